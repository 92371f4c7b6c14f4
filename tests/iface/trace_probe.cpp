// A small program for the trace tests: a fixed series of DasCalls in a fresh process, so the
// library meets DASHARD_TRACE at its first call. Prints each result on stdout, one per line.
// Usage: das_trace_probe DASHARD_OUTPUT-for-the-second-open
#include "trace_probe.h"

#include "dashard.h"

#include <array>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    std::array<uint8_t, 512> frame {};
    for (int i = 0; i < 512; ++i)
        frame[i] = traceprobe::level(i);

    int index = 0;
    for (const auto &call : traceprobe::kCalls) {
        if (index == traceprobe::kSecondOpen)
            setenv("DASHARD_OUTPUT", argv[1], 1);
        std::printf(
            "%d\n", DasCall(call.command, call.length, call.withFrame ? frame.data() : nullptr));
        // The trace file was chosen at the first call; a later change must not move it.
        if (index == 0)
            setenv("DASHARD_TRACE", "/nonexistent-das-trace-dir/moved.log", 1);
        ++index;
    }
    return 0;
}
