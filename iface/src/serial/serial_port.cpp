// One open tty of a serial DMX device.
#include "serial/serial_port.h"

#include "dashard.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace das {

namespace {

// Debian links /var/lock to /run/lock; other systems may keep them apart.
constexpr const char *kLockDirectories[] = { "/run/lock", "/var/lock" };

std::string inUse(const std::string &how) { return "in use by another program (" + how + ")"; }

// The UUCP convention: LCK..NAME in a lock directory, NAME the tty's own name, holding the
// owner's process id as text. A lock whose process is gone is stale and holds nothing.
std::string uucpLock(const std::string &path)
{
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return {};
    const char *name = std::strrchr(resolved, '/');
    for (const char *folder : kLockDirectories) {
        const std::string lock = std::string(folder) + "/LCK.." + (name ? name + 1 : resolved);
        const int fd = ::open(lock.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        char text[32] {};
        const ssize_t got = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        const long pid = got > 0 ? std::strtol(text, nullptr, 10) : 0;
        if (pid > 0 && pid <= INT_MAX && (::kill(pid_t(pid), 0) == 0 || errno == EPERM))
            return "lock file " + lock;
    }
    return {};
}

// How another program holds the tty open as `fd`, or empty. In that case `fd` now holds the
// flock itself; trying it does not disturb a holder.
std::string claim(int fd)
{
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
        return "exclusive mode";
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return "flock";
    return {};
}

std::string openFailure(int error)
{
    switch (error) {
    case ENOENT:
        return "no such device";
    case ENXIO: // the node is there, the device unplugged or its driver gone
    case ENODEV:
        return "no device behind this node: is the interface plugged in?";
    case EACCES:
    case EPERM:
        return std::string(kPermissionDenied);
    case EBUSY: // exclusive mode, for a process without CAP_SYS_ADMIN
        return inUse("exclusive mode");
    case ENOTTY:
        return "not a terminal";
    default:
        return std::string("cannot open device: ") + std::strerror(error);
    }
}

} // namespace

SerialPort::SerialPort(SerialPort &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{
}

SerialPort &SerialPort::operator=(SerialPort &&other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

SerialPort::~SerialPort() { close(); }

void SerialPort::closeKeepingOutput() { close(false); }

void SerialPort::close(bool flush)
{
    if (m_fd < 0)
        return;
    if (flush)
        ::tcflush(m_fd, TCOFLUSH);
    ::ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
}

std::string heldByAnotherProgram(const std::string &path)
{
    std::string how = uucpLock(path);
    if (how.empty()) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            how = claim(fd);
            ::close(fd);
        } else if (errno == EBUSY) {
            how = "exclusive mode";
        }
    }
    return how.empty() ? how : inUse(how);
}

SerialPort SerialPort::open(const std::string &path, std::string &why)
{
    if (const std::string how = uucpLock(path); !how.empty()) {
        why = inUse(how);
        return SerialPort();
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = openFailure(errno);
        return SerialPort();
    }
    // A plain close: the port's own would flush the holder's output and clear its exclusive mode.
    if (const std::string how = claim(fd); !how.empty()) {
        ::close(fd);
        why = inUse(how);
        return SerialPort();
    }
    SerialPort port(fd);
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0) {
        why = openFailure(errno);
        return SerialPort();
    }
    // Without raw mode the line discipline would turn a level of 0x0A into 0D 0A.
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        why = std::string("cannot configure device: ") + std::strerror(errno);
        return SerialPort();
    }
    // Keeps a second program from interleaving its own bytes with ours: the flock taken above
    // for programs that honour it, exclusive mode for every other opener without CAP_SYS_ADMIN.
    ::ioctl(fd, TIOCEXCL);
    ::tcflush(fd, TCIOFLUSH);
    return port;
}

int SerialPort::wait(short events, std::chrono::milliseconds timeout) const
{
    pollfd entry { m_fd, events, 0 };
    int ready;
    do
        ready = ::poll(&entry, 1, int(timeout.count()));
    while (ready < 0 && errno == EINTR);
    if (ready < 0 || (entry.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return DAS_E_IO;
    return entry.revents & events;
}

int SerialPort::write(std::span<const uint8_t> bytes) const
{
    ssize_t taken;
    do
        taken = ::write(m_fd, bytes.data(), bytes.size());
    while (taken < 0 && errno == EINTR);
    if (taken >= 0)
        return int(taken);
    return errno == EAGAIN ? 0 : DAS_E_IO;
}

int SerialPort::read(std::span<uint8_t> into) const
{
    ssize_t got;
    do
        got = ::read(m_fd, into.data(), into.size());
    while (got < 0 && errno == EINTR);
    if (got >= 0)
        return int(got);
    return errno == EAGAIN ? 0 : DAS_E_IO;
}

size_t SerialPort::queuedOutput() const
{
    int queued = 0;
    if (::ioctl(m_fd, TIOCOUTQ, &queued) != 0 || queued < 0)
        return 0;
    return size_t(queued);
}

} // namespace das
