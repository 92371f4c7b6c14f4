// A shell command's standard output, for tests that look at a program as its user runs it.
#pragma once

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace testsupport {

// Runs `command` with sh and returns what it printed; `status` gets its exit status, or -1 when
// it did not exit normally.
inline std::string run(const std::string &command, int *status = nullptr)
{
    std::string text;
    int result = -1;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        for (int c; (c = std::fgetc(pipe)) != EOF;)
            text += static_cast<char>(c);
        const int raw = pclose(pipe);
        result = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    if (status)
        *status = result;
    return text;
}

} // namespace testsupport
