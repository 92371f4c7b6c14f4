// Asking DMX USB Pro widgets: one round of questions put to all the candidate devices at once
// under a single poll(), so the time taken does not grow with their number.
#include "serial/usbpro_probe.h"

#include "encode/usbpro.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <poll.h>

namespace das {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The serial number first, and only here: any request other than parameters or DMX would stop
// a streaming widget's output.
std::vector<uint8_t> questions()
{
    std::vector<uint8_t> bytes = encodeUsbProMessage(kUsbProGetSerial, {});
    const std::array<uint8_t, 2> noUserConfig { 0, 0 };
    const std::vector<uint8_t> parameters = encodeUsbProMessage(kUsbProGetParameters, noUserConfig);
    bytes.insert(bytes.end(), parameters.begin(), parameters.end());
    return bytes;
}

// One device being asked. Its port closes on the first failure.
struct Asking
{
    void fail(const char *why)
    {
        if (!reply.answered)
            reply.why = why;
        port = SerialPort();
    }

    // Replies must carry their full payload, so a line that merely echoes our requests back is
    // not taken for a widget.
    void take(std::span<const uint8_t> bytes)
    {
        for (const UsbProMessage &message : parser.feed(bytes)) {
            const std::vector<uint8_t> &p = message.payload;
            if (message.label == kUsbProGetSerial && p.size() == 4)
                reply.serial
                    = p[0] | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
            else if (message.label == kUsbProGetParameters && p.size() >= 5)
                reply.firmware = uint16_t(p[0] | p[1] << 8);
            else
                continue;
            reply.answered = true;
        }
    }

    void serve(short events)
    {
        if (events & POLLIN) {
            std::array<uint8_t, 256> buffer;
            const int got = port.read(buffer);
            if (got < 0)
                return fail("device failed");
            take(std::span(buffer).first(size_t(got)));
        }
        if (events & (POLLHUP | POLLERR | POLLNVAL))
            return fail("device hung up");
        if (events & POLLOUT) {
            const int taken = port.write(unsent);
            if (taken < 0)
                return fail("device failed");
            unsent.erase(unsent.begin(), unsent.begin() + taken);
        }
    }

    WidgetReply reply;
    SerialPort port;
    std::vector<uint8_t> unsent;
    UsbProParser parser;
};

enum class Until { EveryReply, FirstWidget };

bool finished(const std::vector<Asking> &asked, Until until)
{
    for (const Asking &a : asked) {
        if (!a.port.isOpen())
            continue;
        // The first device still open decides: it answered, or it may yet.
        if (until == Until::FirstWidget)
            return a.reply.answered;
        if (!a.reply.serial || !a.reply.firmware)
            return false;
    }
    return true;
}

std::vector<Asking> ask(const std::vector<std::string> &devices, milliseconds wait, Until until)
{
    const auto deadline = Clock::now() + wait;
    std::vector<Asking> asked(devices.size());
    for (size_t i = 0; i < devices.size(); ++i) {
        asked[i].reply.device = devices[i];
        asked[i].port = SerialPort::open(devices[i], asked[i].reply.why);
        asked[i].reply.asked = asked[i].port.isOpen();
        asked[i].unsent = questions();
    }
    std::vector<pollfd> fds;
    std::vector<Asking *> whose;
    while (!finished(asked, until)) {
        fds.clear();
        whose.clear();
        for (Asking &a : asked) {
            if (!a.port.isOpen())
                continue;
            fds.push_back({ a.port.fd(), short(POLLIN | (a.unsent.empty() ? 0 : POLLOUT)), 0 });
            whose.push_back(&a);
        }
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
        const int ready = ::poll(fds.data(), fds.size(), int(std::max<decltype(left)>(left, 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        for (size_t k = 0; k < fds.size(); ++k)
            whose[k]->serve(fds[k].revents);
    }
    for (Asking &a : asked)
        if (a.port.isOpen() && !a.reply.answered)
            a.reply.why = a.unsent.empty()
                ? "no answer within " + std::to_string(wait.count()) + " ms"
                : "device does not take data";
    return asked;
}

} // namespace

std::vector<std::string> usbProCandidates(const DeviceRoots &roots)
{
    return findUsbSerialDevices(roots).dmx;
}

std::vector<WidgetReply> askWidgets(const std::vector<std::string> &devices, milliseconds wait)
{
    std::vector<WidgetReply> replies;
    for (Asking &a : ask(devices, wait, Until::EveryReply))
        replies.push_back(std::move(a.reply));
    return replies;
}

SerialPort firstWidget(
    const std::vector<std::string> &devices, milliseconds wait, std::vector<WidgetReply> &replies)
{
    std::vector<Asking> asked = ask(devices, wait, Until::FirstWidget);
    SerialPort port;
    replies.clear();
    for (Asking &a : asked) {
        if (!port.isOpen() && a.reply.answered && a.port.isOpen())
            port = std::move(a.port);
        replies.push_back(std::move(a.reply));
    }
    return port;
}

} // namespace das
