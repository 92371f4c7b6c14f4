// The call trace (DASHARD_TRACE).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace das {

// Longest line: 20-character time, three numbers, 1024 hex digits, spaces and newline.
inline constexpr std::size_t kTraceLineMax = 1088;

// Formats one trace line, newline included, into `out` and returns its length:
// "SECONDS.MICROS COMMAND LENGTH RESULT[ HEX]". `levels` is the 512-byte frame of a valid
// command 4, shown as 1024 lowercase hex digits, or null for every other call.
std::size_t formatTraceLine(std::span<char, kTraceLineMax> out, int64_t micros, int32_t command,
    int32_t length, int32_t result, const uint8_t *levels);

// The trace file: whole lines appended, each call's line in one write. A file that reaches its
// bound is renamed to FILE.1 (replacing the older one) and a new FILE begins, so the trace keeps
// the latest calls in at most twice its bound; where its folder refuses the rename, FILE is
// emptied and begins again instead. Writing never fails a call nor raises SIGPIPE: a failure
// costs one stderr line, and writing resumes by itself once it can again (a FIFO as soon as a
// new reader opens it).
class Trace
{
public:
    Trace() = default;
    Trace(const Trace &) = delete;
    Trace &operator=(const Trace &) = delete;
    ~Trace();

    // Starts appending to the file at `path`, creating it when missing. When it cannot be
    // opened, says so in one stderr line and tries again at later calls.
    void open(const char *path);

    // Appends one line with a single write and no allocation; does nothing while off.
    // `micros` also paces the once-a-second look at whether `path` still names the open file.
    void record(
        int64_t micros, int32_t command, int32_t length, int32_t result, const uint8_t *levels);

    // Appends "# MESSAGE", a line that is not a call: what an open decided by itself.
    void note(std::string_view message);

private:
    bool stillOurs() const;
    void reopen();
    bool rotate();
    void fail(const char *what, int error);

    std::string m_path, m_oldPath; // FILE and FILE.1
    int m_fd = -1;
    bool m_regular = false; // only a regular file is measured and rotated (not /dev/null, a pipe)
    bool m_pipe = false; // a pipe, FIFO or socket: may raise SIGPIPE
    uint64_t m_device = 0, m_inode = 0;
    std::size_t m_size = 0;
    int64_t m_nextLook = 0;
    bool m_failing = false; // said so on stderr; quiet until a line is written again
    bool m_renameRefused = false; // said so on stderr; quiet until a rename works
    std::array<char, kTraceLineMax> m_line {};
};

} // namespace das
