// The call trace (DASHARD_TRACE) and the library's one-line messages on stderr.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace das {

// Longest line: 20-character time, three numbers, 1024 hex digits, spaces and newline.
inline constexpr std::size_t kTraceLineMax = 1088;

// Formats one trace line, newline included, into `out` and returns its length:
// "SECONDS.MICROS COMMAND LENGTH RESULT[ HEX]". `levels` is the 512-byte frame of a valid
// command 4, shown as 1024 lowercase hex digits, or null for every other call.
std::size_t formatTraceLine(std::span<char, kTraceLineMax> out, int64_t micros, int32_t command,
    int32_t length, int32_t result, const uint8_t *levels);

// Writes "dashard: MESSAGE\n" on stderr in one write, so lines from threads never interleave.
void printDiagnostic(std::string_view message);

class Trace
{
public:
    Trace() = default;
    Trace(const Trace &) = delete;
    Trace &operator=(const Trace &) = delete;
    ~Trace();

    // Starts appending to the file at `path`, creating it when missing. When it cannot be
    // opened, says so in one stderr line and stays off.
    void open(const char *path);

    // Appends one line with a single write and no allocation; does nothing while off.
    void record(
        int64_t micros, int32_t command, int32_t length, int32_t result, const uint8_t *levels);

private:
    int m_fd = -1;
    std::array<char, kTraceLineMax> m_line {};
};

} // namespace das
