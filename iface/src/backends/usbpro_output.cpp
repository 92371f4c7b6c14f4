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
#include "serial_port.h"

#include <algorithm>
#include <array>
#include <poll.h>
#include <thread>

namespace das {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kAnswerWait { 500 };
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

// Asks for the serial number and the widget parameters, and waits for either answer. The
// serial request goes first and only here: any request other than parameters or DMX would stop
// a streaming widget's output. Replies must carry their full payload, so a line that merely
// echoes our requests back is not taken for a widget.
bool widgetAnswers(const SerialPort &port, std::string &why)
{
    std::vector<uint8_t> requests = encodeUsbProMessage(kUsbProGetSerial, {});
    const std::array<uint8_t, 2> noUserConfig { 0, 0 };
    const std::vector<uint8_t> parameters = encodeUsbProMessage(kUsbProGetParameters, noUserConfig);
    requests.insert(requests.end(), parameters.begin(), parameters.end());

    const auto deadline = Clock::now() + kAnswerWait;
    const int sent = writeBefore(port, requests, deadline);
    if (sent != int(requests.size())) {
        why = sent < 0 ? "device failed" : "device does not take data";
        return false;
    }
    UsbProParser parser;
    std::array<uint8_t, 256> buffer;
    for (;;) {
        const int ready = port.wait(POLLIN, leftUntil(deadline));
        if (ready < 0) {
            why = "device hung up";
            return false;
        }
        if (ready == 0) {
            why = "no widget answered within 500 ms";
            return false;
        }
        const int got = port.read(buffer);
        if (got < 0) {
            why = "device failed";
            return false;
        }
        for (const UsbProMessage &reply : parser.feed(std::span(buffer).first(size_t(got)))) {
            if ((reply.label == kUsbProGetSerial && reply.payload.size() == 4)
                || (reply.label == kUsbProGetParameters && reply.payload.size() >= 5))
                return true;
        }
    }
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

std::unique_ptr<Backend> openUsbPro(const OutputConfig &config, std::string &why)
{
    SerialPort port = SerialPort::open(config.device, why);
    if (!port.isOpen() || !widgetAnswers(port, why))
        return nullptr;
    return std::make_unique<UsbProOutput>(std::move(port));
}

} // namespace das
