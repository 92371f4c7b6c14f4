// The opendmx output: a writer thread makes BREAK, mark-after-break and the 513 slots of each
// packet on a raw FTDI adapter, over and over, from the latest frame handed to send.
//
// An adapter that stops taking bytes does not hold anyone up: the writer waits for room in
// short slices and gives up after kStallLimit without progress, and the next send reports
// DAS_E_IO. A frame sent while the writer is busy simply replaces the one it will send next.
#include "opendmx_output.h"

#include "dashard.h"
#include "serial_port.h"
#include "termios2.h"

#include <array>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>

namespace das {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// Transmitter minimums are 92 µs and 12 µs; a little more costs nothing.
constexpr microseconds kBreak { 100 };
constexpr microseconds kMarkAfterBreak { 16 };
// A packet takes about 22.7 ms on the wire after write() returns, and a BREAK raised earlier
// would cut its last slots. 28 ms gives ~35 packets a second.
constexpr milliseconds kPacketGap { 28 };
constexpr milliseconds kWaitSlice { 5 };
constexpr milliseconds kStallLimit { 1000 };

class TtyDmxLine final : public DmxLine
{
public:
    explicit TtyDmxLine(SerialPort port)
        : m_port(std::move(port))
    {
    }

    int setBreak(bool on) override
    {
        return ::ioctl(m_port.fd(), on ? TIOCSBRK : TIOCCBRK) == 0 ? DAS_OK : DAS_E_IO;
    }

    void pause(std::chrono::nanoseconds duration) override
    {
        timespec until {};
        ::clock_gettime(CLOCK_MONOTONIC, &until);
        const auto total = until.tv_nsec + duration.count();
        until.tv_sec += time_t(total / 1'000'000'000);
        until.tv_nsec = long(total % 1'000'000'000);
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) { }
    }

    int write(std::span<const uint8_t> bytes) override { return m_port.write(bytes); }

    int waitWritable(milliseconds timeout) override
    {
        const int ready = m_port.wait(POLLOUT, timeout);
        return ready < 0 ? ready : (ready ? 1 : 0);
    }

private:
    SerialPort m_port;
};

class OpenDmxOutput final : public Backend
{
public:
    explicit OpenDmxOutput(std::unique_ptr<DmxLine> line)
        : m_line(std::move(line))
    {
        m_writer = std::thread([this] { run(); });
    }

    ~OpenDmxOutput() override { halt(); }

    int send(Frame frame) override
    {
        std::lock_guard lock(m_mutex);
        // The writer may be between packets; a hung-up line must fail this very send.
        if (m_failure == DAS_OK && m_line->waitWritable(milliseconds(0)) < 0)
            m_failure = DAS_E_IO;
        if (m_failure != DAS_OK)
            return m_failure;
        std::copy(frame.begin(), frame.end(), m_latest.begin() + 1);
        if (!m_haveFrame) {
            m_haveFrame = true;
            m_wake.notify_one();
        }
        return DAS_OK;
    }

    void stop() override { halt(); }

private:
    void halt()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        if (m_writer.joinable())
            m_writer.join();
    }

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || m_haveFrame; });
            if (m_stopping)
                return;
            const std::array<uint8_t, 1 + kFrameSize> packet = m_latest;
            lock.unlock();
            const int rc = sendPacket(packet);
            lock.lock();
            if (rc < 0) {
                m_failure = rc;
                return;
            }
            m_wake.wait_for(lock, kPacketGap, [this] { return m_stopping; });
        }
    }

    int sendPacket(std::span<const uint8_t> packet)
    {
        if (const int rc = m_line->setBreak(true); rc < 0)
            return rc;
        m_line->pause(kBreak);
        if (const int rc = m_line->setBreak(false); rc < 0)
            return rc;
        m_line->pause(kMarkAfterBreak);
        size_t done = 0;
        auto progress = Clock::now();
        while (done < packet.size()) {
            const int taken = m_line->write(packet.subspan(done));
            if (taken < 0)
                return taken;
            if (taken > 0) {
                done += size_t(taken);
                progress = Clock::now();
                continue;
            }
            if (stopping() || Clock::now() - progress > kStallLimit)
                return stopping() ? DAS_OK : DAS_E_IO;
            if (const int rc = m_line->waitWritable(kWaitSlice); rc < 0)
                return rc;
        }
        return DAS_OK;
    }

    bool stopping()
    {
        std::lock_guard lock(m_mutex);
        return m_stopping;
    }

    std::unique_ptr<DmxLine> m_line;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::array<uint8_t, 1 + kFrameSize> m_latest {}; // START code 0, then the levels
    bool m_haveFrame = false;
    bool m_stopping = false;
    int m_failure = DAS_OK;
    std::thread m_writer;
};

} // namespace

std::unique_ptr<DmxLine> openDmxLine(const std::string &path, std::string &why)
{
    SerialPort port = SerialPort::open(path, why);
    if (!port.isOpen() || !setDmxLine(port.fd(), why))
        return nullptr;
    return std::make_unique<TtyDmxLine>(std::move(port));
}

std::unique_ptr<Backend> makeOpenDmxOutput(std::unique_ptr<DmxLine> line)
{
    return std::make_unique<OpenDmxOutput>(std::move(line));
}

std::unique_ptr<Backend> openOpenDmx(const OutputConfig &config, std::string &why)
{
    std::unique_ptr<DmxLine> line = openDmxLine(config.device, why);
    return line ? makeOpenDmxOutput(std::move(line)) : nullptr;
}

} // namespace das
