// The opendmx output: a writer thread makes BREAK, mark-after-break and the 513 slots of each
// packet on a raw FTDI adapter, over and over, from the latest frame handed to send.
//
// An adapter that stops taking or sending bytes does not hold anyone up: the writer waits in
// short slices and gives up after kStallLimit without progress, and the next send reports
// DAS_E_IO. A frame sent while the writer is busy simply replaces the one it will send next.
#include "serial/opendmx_output.h"

#include "dashard.h"
#include "serial/dmx_line.h"
#include "serial/serial_kind.h"
#include "serial/serial_port.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>

namespace das {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// Transmitter minimums are 92 µs and 12 µs; a little more costs nothing.
constexpr microseconds kBreak { 100 };
constexpr microseconds kMarkAfterBreak { 16 };
// One slot (start bit, 8 data bits, 2 stop bits at 4 us) and the START code with 512 slots:
// the least time a packet takes on the wire.
constexpr microseconds kSlotTime { 44 };
constexpr microseconds kPacketTime = kSlotTime * (1 + kFrameSize);
constexpr milliseconds kWaitSlice { 5 };
constexpr milliseconds kStallLimit { 1000 };
// What a close may wait for the packet on its way, within the 25 ms any call may take.
constexpr milliseconds kCloseWait { 24 };

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

    int write(std::span<const uint8_t> bytes) override
    {
        m_drained = false;
        return m_port.write(bytes);
    }

    int waitWritable(milliseconds timeout) override
    {
        const int ready = m_port.wait(POLLOUT, timeout);
        return ready < 0 ? ready : (ready ? 1 : 0);
    }

    // While the driver holds bytes, sleeps for the time they take on the wire; then tcdrain for
    // the last ones, which the FTDI driver returns from only once the chip's transmitter is empty.
    // tcdrain alone cannot be bounded, so it waits only for what one chip buffer holds.
    int drain(milliseconds timeout) override
    {
        const auto until = Clock::now() + timeout;
        m_drained = false;
        for (size_t queued; (queued = m_port.queuedOutput()) > 0;) {
            if (Clock::now() >= until)
                return 0;
            pause(std::min<std::chrono::nanoseconds>(kSlotTime * queued, until - Clock::now()));
        }
        int rc;
        while ((rc = ::tcdrain(m_port.fd())) != 0 && errno == EINTR) { }
        m_drained = rc == 0;
        return rc == 0 ? 1 : DAS_E_IO;
    }

    // A line whose last packet has left has nothing to discard; otherwise the port's own close
    // discards what is left, so that a line that stopped sending cannot hold the close up.
    ~TtyDmxLine() override
    {
        if (m_drained)
            m_port.closeKeepingOutput();
    }

private:
    SerialPort m_port;
    bool m_drained = false;
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
            m_stopAt = Clock::now();
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
            Clock::time_point written;
            const int rc = sendPacket(packet, written);
            lock.lock();
            if (rc < 0) {
                m_failure = rc;
                return;
            }
            // A line that cannot tell when its bytes have left (a pty) still gets no more
            // packets than the wire could carry.
            m_wake.wait_until(lock, written + kPacketTime, [this] { return m_stopping; });
        }
    }

    // Puts one packet on the wire and waits until it has left the line; `written` is when its
    // slots began to be written.
    int sendPacket(std::span<const uint8_t> packet, Clock::time_point &written)
    {
        if (const int rc = m_line->setBreak(true); rc < 0)
            return rc;
        m_line->pause(kBreak);
        if (const int rc = m_line->setBreak(false); rc < 0)
            return rc;
        m_line->pause(kMarkAfterBreak);
        size_t done = 0;
        auto progress = written = Clock::now();
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
        // The next BREAK would cut off the slots still on their way. A close waits for them too,
        // for as long as a call may take.
        for (const auto began = Clock::now();;) {
            if (const int rc = m_line->drain(kWaitSlice); rc != 0)
                return rc < 0 ? rc : DAS_OK;
            if (Clock::now() - began > kStallLimit)
                return DAS_E_IO;
            std::lock_guard lock(m_mutex);
            if (m_stopping && Clock::now() - m_stopAt > kCloseWait)
                return DAS_OK;
        }
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
    Clock::time_point m_stopAt;
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
