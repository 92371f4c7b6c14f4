// A shell command's standard output, for tests that run a program as its user does.
#pragma once

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace testsupport {

// What `command` printed; `status` gets its exit status, or -1 when it did not exit normally.
inline std::string run(const std::string &command, int *status = nullptr)
{
    std::string text;
    FILE *pipe = popen(command.c_str(), "r");
    for (int c; pipe && (c = std::fgetc(pipe)) != EOF;)
        text += char(c);
    const int raw = pipe ? pclose(pipe) : -1;
    if (status)
        *status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return text;
}

} // namespace testsupport
