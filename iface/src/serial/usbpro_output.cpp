// The usbpro output: a DMX USB Pro-style widget on a tty. The widget repeats the last frame by
// itself, so each send writes one Output Only Send DMX message and returns.
//
// When the widget stops reading, nothing blocks: each send waits at most kSendBudget for room.
// A message the driver took only in part is finished by the following sends before anything
// new goes out, so the widget never sees a torn message; frames arriving meanwhile are dropped
// (the widget keeps showing the one before). Once a message has gained no byte for kStallLimit,
// send fails with DAS_E_IO and the output closes.
#include "backend.h"
#include "dashard.h"
#include "encode/usbpro.h"
#include "serial/serial_kind.h"
#include "serial/serial_port.h"
#include "serial/usbpro_probe.h"

#include <algorithm>
#include <array>
#include <poll.h>
#include <thread>

namespace das {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kSendBudget { 15 };
constexpr milliseconds kStopBudget { 20 };
constexpr milliseconds kStallLimit { 2000 };

// Whole milliseconds left until `deadline`, rounded up so a wait never ends early.
milliseconds leftUntil(Clock::time_point deadline)
{
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return milliseconds(0);
    return std::chrono::ceil<milliseconds>(left);
}

// Writes all of `bytes` unless the deadline passes first. Returns the count taken, or DAS_E_IO.
int writeBefore(const SerialPort &port, std::span<const uint8_t> bytes, Clock::time_point deadline)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const int taken = port.write(bytes.subspan(done));
        if (taken < 0)
            return taken;
        if (taken > 0) {
            done += size_t(taken);
            continue;
        }
        const int ready = port.wait(POLLOUT, leftUntil(deadline));
        if (ready <= 0)
            return ready < 0 ? ready : int(done);
    }
    return int(done);
}

class UsbProOutput final : public Backend
{
public:
    explicit UsbProOutput(SerialPort port)
        : m_port(std::move(port))
    {
    }

    int send(Frame frame) override
    {
        const auto deadline = Clock::now() + kSendBudget;
        if (const int rc = discardInput(); rc < 0)
            return rc;
        if (!idle()) {
            if (const int rc = continueMessage(deadline); rc < 0)
                return rc;
            if (!idle())
                return stalled() ? DAS_E_IO : DAS_OK;
        }
        encodeUsbProDmx(frame, m_message);
        m_written = 0;
        m_lastProgress = Clock::now(); // time spent idle is no stall
        if (const int rc = continueMessage(deadline); rc < 0)
            return rc;
        return !idle() && stalled() ? DAS_E_IO : DAS_OK;
    }

    // Lets the last message reach the widget, which then keeps showing it.
    void stop() override
    {
        const auto deadline = Clock::now() + kStopBudget;
        if (!idle() && continueMessage(deadline) < 0)
            return;
        while (m_port.queuedOutput() > 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(1));
    }

private:
    bool idle() const { return m_written == m_message.size(); }
    bool stalled() const { return Clock::now() - m_lastProgress > kStallLimit; }

    int continueMessage(Clock::time_point deadline)
    {
        const int taken = writeBefore(m_port, std::span(m_message).subspan(m_written), deadline);
        if (taken < 0)
            return taken;
        if (taken > 0) {
            m_written += size_t(taken);
            m_lastProgress = Clock::now();
        }
        return DAS_OK;
    }

    // Replies and anything else the widget sends are of no use while streaming; reading them
    // also tells a hung-up line apart from a quiet one.
    int discardInput()
    {
        std::array<uint8_t, 256> buffer;
        for (int round = 0; round < 4; ++round) {
            const int ready = m_port.wait(POLLIN | POLLOUT, milliseconds(0));
            if (ready < 0)
                return ready;
            if (!(ready & POLLIN))
                return DAS_OK;
            if (m_port.read(buffer) < 0)
                return DAS_E_IO;
        }
        return DAS_OK;
    }

    SerialPort m_port;
    UsbProDmxMessage m_message {};
    size_t m_written = m_message.size();
    Clock::time_point m_lastProgress = Clock::now();
};

} // namespace

// Without a device, every candidate is asked at once and the first in their order that answers
// is used; the others get the two requests and nothing more.
std::unique_ptr<Backend> openUsbPro(const OutputConfig &config, std::string &why)
{
    const bool detect = config.device.empty();
    const std::vector<std::string> devices
        = detect ? usbProCandidates() : std::vector<std::string> { config.device };
    if (devices.empty()) {
        why = "no USB serial device that says it is a DMX interface was found (a generic USB "
              "serial adapter is never asked: name it, usbpro:DEVICE; brivane-check --scan lists "
              "them)";
        return nullptr;
    }
    std::vector<WidgetReply> replies;
    SerialPort port = firstWidget(devices, kWidgetAnswerWait, replies);
    if (port.isOpen())
        return std::make_unique<UsbProOutput>(std::move(port));
    why = detect ? "no widget answered:" : "";
    bool denied = false;
    for (const WidgetReply &reply : replies) {
        why += detect ? (&reply == &replies.front() ? " " : "; ") + reply.device + ": " : "";
        why += reply.why;
        denied = denied || reply.why == kPermissionDenied;
    }
    if (denied)
        why += " (join group dialout, or install the brivane package's device rule and plug the "
               "widget in again)";
    return nullptr;
}

} // namespace das
