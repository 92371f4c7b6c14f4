// Runs its arguments as steps and prints the DasCall results on stderr in one line. A step is
//   open, close, start, send  that command, length 0 (send: 512), the frame (byte i is i) as buffer
//   NAME:LENGTH               the same with another length; send:nobuffer without the frame
//   commandN[:LENGTH]         command number N, which the library does not know
//   frames:N                  N sends, their frames numbered 0.. in the first two levels
//   ticks:N                   the same, 100 ms apart
//   sh:COMMAND                the shell command, no call
// SIGPIPE is unblocked at its default action, ending the probe, as in a program that never
// thought of it.
#include "dashard.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <unistd.h>

int main(int argc, char **argv)
{
    const sigset_t none {};
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::signal(SIGPIPE, SIG_DFL);
    const std::map<std::string, int> commands { { "open", DAS_CMD_OPEN },
        { "close", DAS_CMD_CLOSE }, { "start", DAS_CMD_START }, { "send", DAS_CMD_SEND } };
    uint8_t frame[DAS_FRAME_SIZE];
    for (int i = 0; i < DAS_FRAME_SIZE; ++i)
        frame[i] = uint8_t(i);
    std::string results;
    for (int i = 1, sent = 0; i < argc; ++i) {
        const std::string step = argv[i], name = step.substr(0, step.find(':'));
        const std::string argument = step.substr(std::min(step.size(), name.size() + 1));
        if (name == "sh") {
            (void)!std::system(argument.c_str());
            continue;
        }
        const bool many = name == "frames" || name == "ticks";
        const int command = commands.contains(name) ? commands.at(name)
            : name.starts_with("command")           ? std::stoi(name.substr(7))
            : many                                  ? DAS_CMD_SEND
                                                    : -1;
        const int length = argument.empty() || argument == "nobuffer" || many
            ? (command == DAS_CMD_SEND ? DAS_FRAME_SIZE : 0)
            : std::stoi(argument);
        if (command < 0)
            return std::fprintf(stderr, "no such step: %s\n", argv[i]), 2;
        for (int n = many ? std::stoi(argument) : 1; n > 0; --n) {
            if (name == "ticks")
                usleep(100'000);
            if (many)
                frame[0] = uint8_t(sent >> 8), frame[1] = uint8_t(sent), ++sent;
            const bool withFrame = argument != "nobuffer";
            results += std::to_string(DasCall(command, length, withFrame ? frame : nullptr)) + " ";
        }
    }
    std::fprintf(stderr, "%s\n", results.c_str());
}
