// The fuzz targets' assertion: a broken property aborts, which libFuzzer reports with its input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                     \
    ((condition) ? void()                                                                         \
                 : (std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition), \
                       std::abort()))
