// One open tty of a serial DMX device: raw, non-blocking, with poll() for every wait so that no
// call outlasts the time it is given.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace das {

// What SerialPort::open says when this user may not open the device.
inline constexpr std::string_view kPermissionDenied = "permission denied";

class SerialPort
{
public:
    SerialPort() = default;
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;
    SerialPort(SerialPort &&other) noexcept;
    SerialPort &operator=(SerialPort &&other) noexcept;
    // Discards output still queued, then closes: a device that stopped reading must not hold
    // up the close.
    ~SerialPort();

    // Opens `path` in raw mode (8 data bits, no parity, one stop bit, no flow control, no
    // character translation) at 115200 baud, reads returning at once, both queues flushed, and
    // holds it for this process alone (flock and exclusive mode) until closed. A device another
    // program holds is left as it is. On failure the port is not open and `why` holds a short
    // phrase: "in use by another program (flock)", "permission denied", ...
    static SerialPort open(const std::string &path, std::string &why);

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    // Waits up to `timeout` for POLLIN/POLLOUT in `events`. Returns the events that are ready
    // (0 on timeout), or DAS_E_IO when the line hung up or failed.
    int wait(short events, std::chrono::milliseconds timeout) const;
    // Returns the bytes taken (0 when the output queue is full), or DAS_E_IO.
    int write(std::span<const uint8_t> bytes) const;
    // Returns the bytes read (0 when none are waiting), or DAS_E_IO.
    int read(std::span<uint8_t> into) const;
    // Bytes the driver still holds for output, or 0 when it cannot say.
    size_t queuedOutput() const;
    // Closes without discarding output: for a line whose output has drained.
    void closeKeepingOutput();

private:
    explicit SerialPort(int fd)
        : m_fd(fd)
    {
    }
    void close(bool flush = true);

    int m_fd = -1;
};

// Why `path` must be left alone because another program holds it, or empty: "in use by another
// program (HOW)", HOW being flock, exclusive mode or the UUCP lock file of a live process. Opens
// nothing for writing and writes no byte.
std::string heldByAnotherProgram(const std::string &path);

} // namespace das
