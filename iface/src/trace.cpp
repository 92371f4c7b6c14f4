// The call trace: fixed-buffer formatting and append-only, unbuffered writes.
#include "trace.h"

#include "backend.h"
#include "diagnostic.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// The size at which the trace file turns over; a test build sets it small.
#ifndef DASHARD_TRACE_FILE_MAX
#define DASHARD_TRACE_FILE_MAX (64 << 20)
#endif

namespace das {

namespace {

constexpr std::size_t kTraceFileMax = DASHARD_TRACE_FILE_MAX;
static_assert(kTraceFileMax >= kTraceLineMax, "a trace file must hold at least one line");
constexpr int64_t kLookMicros = 1'000'000;

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

Trace::~Trace()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void Trace::open(const char *path)
{
    m_path = path;
    m_oldPath = m_path + ".1";
    reopen();
}

void Trace::record(
    int64_t micros, int32_t command, int32_t length, int32_t result, const uint8_t *levels)
{
    if (m_path.empty())
        return;
    // One stat a second notices a file removed or moved away underneath us, and retries one
    // that could not be opened; per call there is only the write.
    if (micros >= m_nextLook) {
        m_nextLook = micros + kLookMicros;
        if (!stillOurs())
            reopen();
    }
    if (m_fd < 0)
        return;
    const std::size_t size = formatTraceLine(m_line, micros, command, length, result, levels);
    if (m_regular && m_size + size > kTraceFileMax && !rotate())
        return;
    // Only a pipe or a socket can raise SIGPIPE; a file or a device costs no extra calls.
    const int error = m_pipe ? writeAllNoSigpipe(m_fd, m_line.data(), size)
                             : writeLoop(m_fd, m_line.data(), size);
    if (error != 0) {
        // A full disk may have taken part of the line: cut it off so that every line is whole.
        if (m_regular && ::ftruncate(m_fd, static_cast<off_t>(m_size)) != 0)
            m_size = kTraceFileMax; // unknown: turn over before the next line
        // A FIFO whose reader has gone takes lines again once a new reader opens it.
        fail("cannot write trace file", error);
        return;
    }
    m_size += size;
    m_failing = false;
}

bool Trace::stillOurs() const
{
    struct stat now;
    return m_fd >= 0 && ::stat(m_path.c_str(), &now) == 0 && now.st_dev == m_device
        && now.st_ino == m_inode;
}

void Trace::reopen()
{
    if (m_fd >= 0)
        ::close(m_fd);
    // Non-blocking, so that a pipe with no reader or a full one costs lines, never time.
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
    struct stat file;
    if (m_fd < 0 || ::fstat(m_fd, &file) != 0) {
        fail("cannot open trace file", errno);
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_regular = S_ISREG(file.st_mode);
    m_pipe = S_ISFIFO(file.st_mode) || S_ISSOCK(file.st_mode);
    m_device = file.st_dev;
    m_inode = file.st_ino;
    m_size = static_cast<std::size_t>(file.st_size);
}

bool Trace::rotate()
{
    if (::rename(m_path.c_str(), m_oldPath.c_str()) == 0) {
        m_renameRefused = false;
        reopen();
        return m_fd >= 0;
    }
    // A folder that refuses the rename (the file writable, its folder not) must not stop the
    // trace: the file begins again from its start, which keeps it within its bound.
    const int error = errno;
    if (::ftruncate(m_fd, 0) != 0) {
        fail("cannot empty trace file", errno);
        return false;
    }
    if (!m_renameRefused)
        printDiagnostic("cannot rename trace file \"" + m_path + "\" to \"" + m_oldPath + "\": "
            + std::strerror(error) + "; it begins again from its start each time it is full");
    m_renameRefused = true;
    m_size = 0;
    return true;
}

void Trace::fail(const char *what, int error)
{
    if (m_failing)
        return;
    m_failing = true;
    printDiagnostic(std::string(what) + " \"" + m_path + "\": " + std::strerror(error));
}

void Trace::note(std::string_view message)
{
    if (m_fd < 0)
        return;
    std::string line = "# ";
    line.append(message);
    line.push_back('\n');
    const int error = m_pipe ? writeAllNoSigpipe(m_fd, line.data(), line.size())
                             : writeLoop(m_fd, line.data(), line.size());
    if (error == 0)
        m_size += line.size();
}

} // namespace das
