// Finding DMX USB Pro widgets: the candidate devices, and one round of questions put to all of
// them at once under a single poll(), so the time taken does not grow with their number.
#include "serial/usbpro_probe.h"

#include "encode/usbpro.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <poll.h>

namespace das {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::vector<std::string> entries(const std::filesystem::path &folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error))
        names.push_back(it->path().filename());
    return names;
}

// The marks of a DMX interface in a name or a USB string. FTDI is not one: it names the chip
// inside every generic adapter as well as inside widgets.
bool saysDmx(std::string text)
{
    for (char &c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    for (const char *mark : { "ENTTEC", "DMX" })
        if (text.find(mark) != std::string::npos)
            return true;
    return false;
}

std::string firstLine(const std::filesystem::path &file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The USB manufacturer and product strings of the tty `device` (a node, or a link to one), read
// from sysfs without opening the device: from SYS/class/tty/NAME/device up to the USB device's
// folder, the one holding idVendor. Empty when there is none or they cannot be read.
std::string usbStrings(const std::string &device, const std::string &sys)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path node = fs::canonical(device, error);
    if (error)
        return {};
    fs::path at = fs::canonical(fs::path(sys) / "class/tty" / node.filename() / "device", error);
    for (; !error && at.has_relative_path(); at = at.parent_path())
        if (fs::exists(at / "idVendor", error))
            return firstLine(at / "manufacturer") + " " + firstLine(at / "product");
    return {};
}

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

UsbSerialDevices findUsbSerialDevices(const DeviceRoots &roots)
{
    UsbSerialDevices found;
    std::vector<std::string> devices;
    std::vector<bool> named;
    std::error_code error;
    if (const std::string byId = roots.dev + "/serial/by-id";
        std::filesystem::is_directory(byId, error)) {
        std::vector<std::string> names = entries(byId);
        std::sort(names.begin(), names.end());
        for (const std::string &name : names) {
            devices.push_back(byId + "/" + name);
            named.push_back(saysDmx(name));
        }
    } else {
        // Without udev's links, the devices the ftdi_sio driver makes, ttyUSB2 before ttyUSB10.
        std::vector<std::pair<unsigned, std::string>> numbered;
        for (const std::string &name : entries(roots.dev)) {
            constexpr std::string_view prefix = "ttyUSB";
            const char *digits = name.data() + prefix.size(), *end = name.data() + name.size();
            unsigned number = 0;
            if (name.size() <= prefix.size() || !name.starts_with(prefix))
                continue;
            if (const auto [stop, failed] = std::from_chars(digits, end, number);
                failed == std::errc() && stop == end)
                numbered.emplace_back(number, roots.dev + "/" + name);
        }
        std::sort(numbered.begin(), numbered.end());
        for (auto &[number, path] : numbered) {
            devices.push_back(std::move(path));
            named.push_back(false);
        }
    }
    for (size_t i = 0; i < devices.size(); ++i)
        (named[i] || saysDmx(usbStrings(devices[i], roots.sys)) ? found.dmx : found.others)
            .push_back(devices[i]);
    return found;
}

std::vector<std::string> usbProCandidates(const DeviceRoots &roots)
{
    return findUsbSerialDevices(roots).dmx;
}

std::string notAskedText(const std::string &device)
{
    return device
        + ": USB serial adapter, not asked (it may be another kind of device); if it is "
          "a DMX interface, set usbpro:"
        + device + " or opendmx:" + device;
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
