// One-line messages on stderr, and writes that never raise SIGPIPE.
#include "diagnostic.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <string>
#include <unistd.h>

namespace das {

int writeLoop(int fd, const char *text, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, text, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        text += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

// The signal's default action would end the program, and a library may not change the process's
// handling of it, so it is blocked in this thread for the write and one it raised is taken before
// the mask is restored.
int writeAllNoSigpipe(int fd, const char *text, std::size_t size)
{
    sigset_t pipeSignal, before, pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
    // One already pending belongs to someone else and stays for them.
    const bool pendingBefore = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE);
    const int error = writeLoop(fd, text, size);
    if (error == EPIPE && !pendingBefore) {
        const timespec now {};
        while (sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) { }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return error;
}

void printDiagnostic(std::string_view message)
{
    std::string line = "dashard: ";
    line.append(message);
    line.push_back('\n');
    writeAllNoSigpipe(STDERR_FILENO, line.data(), line.size());
}

} // namespace das
