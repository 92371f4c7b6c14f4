// Runs its arguments as DasCalls and prints the results on stderr: "C,L" calls command C, length L,
// a frame (byte i is i); "C,L,0" no buffer; "sN" sends N frames numbered 0.. in their first two
// levels; "sh:COMMAND" runs the command. SIGPIPE is unblocked at its default action, ending the
// probe, as in a program that never thought of it.
#include "dashard.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    const sigset_t none {};
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::signal(SIGPIPE, SIG_DFL);
    uint8_t frame[DAS_FRAME_SIZE];
    for (int i = 0; i < DAS_FRAME_SIZE; ++i)
        frame[i] = uint8_t(i);
    std::string results;
    for (int i = 1, sent = 0, command, length, withFrame = 1; i < argc; ++i, withFrame = 1) {
        if (std::string(argv[i]).starts_with("sh:"))
            (void)std::system(argv[i] + 3);
        else if (argv[i][0] == 's')
            for (int n = std::atoi(argv[i] + 1); n > 0; --n, ++sent) {
                frame[0] = uint8_t(sent >> 8), frame[1] = uint8_t(sent);
                results += std::to_string(DasCall(DAS_CMD_SEND, DAS_FRAME_SIZE, frame)) + " ";
            }
        else if (std::sscanf(argv[i], "%d,%d,%d", &command, &length, &withFrame) >= 2)
            results += std::to_string(DasCall(command, length, withFrame ? frame : nullptr)) + " ";
    }
    std::fprintf(stderr, "%s\n", results.c_str());
}
