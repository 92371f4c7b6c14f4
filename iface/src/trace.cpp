// The call trace: fixed-buffer formatting and append-only, unbuffered writes.
#include "trace.h"

#include "backend.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace das {

namespace {

// Writes all of `text`, resuming after a signal or a short write.
void writeAll(int fd, const char *text, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, text, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return; // a trace or a message must never disturb the call it describes
        }
        text += written;
        size -= static_cast<std::size_t>(written);
    }
}

char *putNumber(char *at, char *end, int64_t value) { return std::to_chars(at, end, value).ptr; }

} // namespace

std::size_t formatTraceLine(std::span<char, kTraceLineMax> out, int64_t micros, int32_t command,
    int32_t length, int32_t result, const uint8_t *levels)
{
    static constexpr char kHex[] = "0123456789abcdef";
    char *at = out.data();
    char *const end = out.data() + out.size();

    at = putNumber(at, end, micros / 1'000'000);
    *at++ = '.';
    // Always six digits after the point: zero-pad the microseconds.
    const auto fraction = static_cast<int32_t>(micros % 1'000'000);
    for (int32_t scale = 100'000; scale > 0; scale /= 10)
        *at++ = static_cast<char>('0' + fraction / scale % 10);
    for (const int32_t value : { command, length, result }) {
        *at++ = ' ';
        at = putNumber(at, end, value);
    }
    if (levels) {
        *at++ = ' ';
        for (int i = 0; i < kFrameSize; ++i) {
            *at++ = kHex[levels[i] >> 4];
            *at++ = kHex[levels[i] & 0x0f];
        }
    }
    *at++ = '\n';
    return static_cast<std::size_t>(at - out.data());
}

void printDiagnostic(std::string_view message)
{
    std::string line = "dashard: ";
    line.append(message);
    line.push_back('\n');
    writeAll(STDERR_FILENO, line.data(), line.size());
}

Trace::~Trace()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void Trace::open(const char *path)
{
    m_fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_fd < 0)
        printDiagnostic(
            "cannot open trace file \"" + std::string(path) + "\": " + std::strerror(errno));
}

void Trace::record(
    int64_t micros, int32_t command, int32_t length, int32_t result, const uint8_t *levels)
{
    if (m_fd < 0)
        return;
    const std::size_t size = formatTraceLine(m_line, micros, command, length, result, levels);
    writeAll(m_fd, m_line.data(), size);
}

} // namespace das
