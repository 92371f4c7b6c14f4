// What the trace probe program does, shared with the test that reads its trace.
#pragma once

#include <cstdint>

namespace traceprobe {

// The probe's frame: every byte value appears, channel 1 is 0x00 and channel 256 is 0xff.
inline uint8_t level(int index) { return static_cast<uint8_t>(index); }

struct Call
{
    int32_t command;
    int32_t length;
    bool withFrame;
    int32_t expected; // with DASHARD_OUTPUT=none for the first open, argv[1] for the second
};

// First a failing series with nothing open, then (after the probe sets DASHARD_OUTPUT to its
// argument) a working open, start, send and close.
inline constexpr Call kCalls[] = {
    { 7, 0, false, -1 },
    { 1, 0, false, -6 },
    { 4, 512, true, -3 },
    { 4, 511, true, -2 },
    { 4, 512, false, -2 },
    { 2, 0, false, 0 },
    { 1, 0, false, 0 },
    { 3, 0, false, 0 },
    { 4, 512, true, 0 },
    { 2, 0, false, 0 },
};
inline constexpr int kSecondOpen = 6; // index of the call made with argv[1] in DASHARD_OUTPUT

} // namespace traceprobe
