// Whole-frame comparison that names the first channel that differs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>

template <class A, class B>
::testing::AssertionResult framesEqual(const A &actual, const B &expected)
{
    for (std::size_t i = 0; i < 512; ++i)
        if (actual[i] != expected[i])
            return ::testing::AssertionFailure()
                << "index " << i << " (channel " << i + 1 << "): " << int(actual[i])
                << ", expected " << int(expected[i]);
    return ::testing::AssertionSuccess();
}
