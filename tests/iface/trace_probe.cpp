// Makes a fixed series of DasCalls in a fresh process, so the library meets DASHARD_TRACE at its
// first call, then prints the results on stderr, after anything the library said there.
#include "dashard.h"

#include <cstdio>
#include <string>

int main()
{
    uint8_t frame[DAS_FRAME_SIZE];
    for (int i = 0; i < DAS_FRAME_SIZE; ++i)
        frame[i] = static_cast<uint8_t>(i);
    // Command, length, whether a frame goes with it: see dascall_contract_test.cpp.
    const int calls[][3] = { { 4, 512, 1 }, { 7, 0, 0 }, { 1, 0, 0 }, { 0, 0, 0 }, { 5, 512, 1 },
        { 1, 1, 0 }, { 2, -1, 0 }, { 3, 512, 1 }, { 4, 511, 1 }, { 4, 513, 1 }, { 4, 512, 0 },
        { 4, 512, 1 }, { 2, 0, 0 }, { 2, 0, 0 }, { 4, 512, 1 } };
    std::string results;
    for (const auto &call : calls)
        results += std::to_string(DasCall(call[0], call[1], call[2] ? frame : nullptr)) + " ";
    std::fprintf(stderr, "%s\n", results.c_str());
}
