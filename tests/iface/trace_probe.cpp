// Makes a fixed series of DasCalls in a fresh process, so the library meets DASHARD_TRACE at its
// first call, then prints the results on stderr, after anything the library said there.
// With arguments it runs them as steps instead: "open"; "send:N", N frames numbered 0, 1, ... in
// their first two levels; "sh:COMMAND"; "wait", past the library's once-a-second look at its file.
#include "dashard.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char **argv)
{
    uint8_t frame[DAS_FRAME_SIZE];
    for (int i = 0; i < DAS_FRAME_SIZE; ++i)
        frame[i] = static_cast<uint8_t>(i);
    std::string results;
    const auto call = [&](int command, int length, uint8_t *buffer) {
        results += std::to_string(DasCall(command, length, buffer)) + " ";
    };
    if (argc == 1) {
        // Command, length, whether a frame goes with it: see dascall_contract_test.cpp.
        const int calls[][3] = { { 4, 512, 1 }, { 7, 0, 0 }, { 1, 0, 0 }, { 0, 0, 0 },
            { 5, 512, 1 }, { 1, 1, 0 }, { 2, -1, 0 }, { 3, 512, 1 }, { 4, 511, 1 }, { 4, 513, 1 },
            { 4, 512, 0 }, { 4, 512, 1 }, { 2, 0, 0 }, { 2, 0, 0 }, { 4, 512, 1 } };
        for (const auto &c : calls)
            call(c[0], c[1], c[2] ? frame : nullptr);
    }
    int sent = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        if (step == "open")
            call(DAS_CMD_OPEN, 0, nullptr);
        else if (step == "wait")
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        else if (step.starts_with("sh:"))
            (void)std::system(step.c_str() + 3);
        else if (step.starts_with("send:"))
            for (int n = std::stoi(step.substr(5)); n > 0; --n, ++sent) {
                frame[0] = static_cast<uint8_t>(sent >> 8);
                frame[1] = static_cast<uint8_t>(sent);
                call(DAS_CMD_SEND, DAS_FRAME_SIZE, frame);
            }
    }
    std::fprintf(stderr, "%s\n", results.c_str());
}
