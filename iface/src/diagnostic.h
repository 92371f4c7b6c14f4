// The library's one-line messages on stderr, and the writes they share with the trace.
#pragma once

#include <cstddef>
#include <string_view>

namespace das {

// Writes "dashard: MESSAGE\n" on stderr in one write, so lines from threads never interleave;
// a closed pipe on stderr costs the line, never SIGPIPE.
void printDiagnostic(std::string_view message);

// Writes all of `text`, resuming after a signal or a short write. 0, or the errno that stopped it.
int writeLoop(int fd, const char *text, std::size_t size);

// writeLoop for a descriptor that may be a pipe, FIFO or socket whose reader may have gone: that
// gives EPIPE and never SIGPIPE.
int writeAllNoSigpipe(int fd, const char *text, std::size_t size);

} // namespace das
