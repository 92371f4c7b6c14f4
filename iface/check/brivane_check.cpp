// brivane-check: tells the operator which DMX output the console would drive, where that choice
// came from, and whether pressing the interface button would open it — without sending a frame.
// Everything it decides goes through the output library's own code: the setting lookup and
// parser, the widget question, the OLA module.
#include "backend.h"
#include "backends/ola_module.h"
#include "backends/opendmx_output.h"
#include "backends/usbpro_probe.h"
#include "dispatcher.h"
#include "encode/sacn.h"
#include "output_setting.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace das;

constexpr const char *kUsage = R"(Usage: brivane-check [--scan] [--wait]

Says which DMX output the Brivane console would drive, where that setting comes from
(DASHARD_OUTPUT, a settings file and line, or the default), and checks it without sending
a DMX frame: a serial device's presence and access, whether a USB Pro widget answers, whether
olad has the universe, the route and local address Art-Net or sACN frames would leave from.

  --scan    list every USB serial device, asking those that say they are DMX interfaces
            whether they are DMX USB Pro widgets
  --wait    wait for Enter before leaving (the menu entry's terminal closes when it ends)
  --help    show this text

Exit status: 0 when the interface button would open the output, 1 when it would not,
2 for bad usage.
)";

void line(const std::string &label, const std::string &text)
{
    std::printf("%-9s %s\n", (label + ":").c_str(), text.c_str());
}

std::string ipv4Text(uint32_t hostOrder)
{
    in_addr address { htonl(hostOrder) };
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::string sourceText(const OutputSetting &setting)
{
    switch (setting.source) {
    case SettingSource::Variable:
        return "the environment variable DASHARD_OUTPUT";
    case SettingSource::File:
        return setting.file + ", line " + std::to_string(setting.line);
    case SettingSource::Default:
        break;
    }
    std::string searched;
    for (const std::string &file : outputSettingFiles())
        searched += (searched.empty() ? "" : ", ") + file;
    return "no setting in DASHARD_OUTPUT or " + searched + ": the default";
}

// Where an Art-Net or sACN output sends: its host, or for sACN without one the universe's
// multicast group. The parser has filled in every default.
uint32_t destination(const OutputConfig &config)
{
    if (config.host.empty())
        return sacnMulticastGroup(uint16_t(config.universe));
    in_addr parsed {};
    inet_pton(AF_INET, config.host.c_str(), &parsed);
    return ntohl(parsed.s_addr);
}

// What pressing the button would drive, in the operator's words.
std::string describe(const OutputConfig &config)
{
    switch (config.kind) {
    case OutputKind::ArtNet:
        return "Art-Net to " + config.host + ":" + std::to_string(config.port) + ", port-address "
            + std::to_string(config.universe);
    case OutputKind::Sacn:
        return "sACN (E1.31) universe " + std::to_string(config.universe) + " to "
            + (config.host.empty() ? "its multicast group " : "")
            + ipv4Text(destination(config));
    case OutputKind::UsbPro:
        return config.device.empty()
            ? "the first DMX USB Pro widget that answers among the USB serial devices that say "
              "they are DMX interfaces"
            : "the DMX USB Pro widget on " + config.device;
    case OutputKind::OpenDmx:
        return "the Open DMX adapter on " + config.device;
    case OutputKind::Ola:
        return "the OLA daemon on this machine, universe " + std::to_string(config.universe);
    case OutputKind::None:
        break;
    }
    return "no output: the interface button always shows \"DAS NG\"";
}

// Whether this user may use a serial device: it exists, may be read and written, and no other
// program holds it. On failure `why` says what to do about it.
bool deviceUsable(const std::string &path, std::string &why)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        why = path + " does not exist: is the interface plugged in?";
        return false;
    }
    if (::access(path.c_str(), R_OK | W_OK) != 0) {
        const group *owner = ::getgrgid(info.st_gid);
        const std::string name = owner ? owner->gr_name : std::to_string(info.st_gid);
        why = "this user may not read and write " + path + " (group " + name + "): join group "
            + name + " (sudo adduser $USER " + name
            + ", then log in again), or install the brivane package, whose device rule gives the"
              " user at this seat access, and plug the interface in again";
        return false;
    }
    if (const std::string held = heldByAnotherProgram(path); !held.empty()) {
        why = path + " is " + held;
        return false;
    }
    return true;
}

std::string widgetText(const WidgetReply &reply)
{
    if (!reply.answered)
        return reply.why.empty() ? "no answer" : reply.why;
    std::string text = "USB Pro widget";
    if (reply.serial) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "%08x", *reply.serial);
        text += std::string(", serial number ") + serial;
    }
    if (reply.firmware)
        text += ", firmware " + std::to_string(*reply.firmware >> 8) + "."
            + std::to_string(*reply.firmware & 0xff);
    return text;
}

bool checkUsbPro(const OutputConfig &config, std::string &why)
{
    std::vector<std::string> devices { config.device };
    if (config.device.empty()) {
        const UsbSerialDevices found = findUsbSerialDevices();
        for (const std::string &other : found.others)
            line("Device", notAskedText(other));
        devices = found.dmx;
        if (devices.empty()) {
            why = "no USB serial device that says it is a DMX interface is plugged in";
            return false;
        }
    } else if (!deviceUsable(config.device, why)) {
        return false;
    }
    const std::vector<WidgetReply> replies = askWidgets(devices, kWidgetAnswerWait);
    const WidgetReply *chosen = nullptr;
    for (const WidgetReply &reply : replies) {
        line("Device", reply.device + ": " + widgetText(reply));
        if (reply.answered && !chosen)
            chosen = &reply;
    }
    if (!chosen) {
        const WidgetReply &only = replies.front();
        why = devices.size() > 1 ? "none of these devices answered as a widget"
            : only.asked         ? "no widget answered on " + only.device
                                 : only.device + ": " + only.why;
        return false;
    }
    line("Uses", chosen->device);
    return true;
}

bool checkOpenDmx(const OutputConfig &config, std::string &why)
{
    if (!deviceUsable(config.device, why))
        return false;
    // Opening sets the line up (250 kbaud 8N2) and reads it back; nothing is written.
    if (!openDmxLine(config.device, why)) {
        why = config.device + ": " + why;
        return false;
    }
    line("Device", config.device + ": takes 250 kbaud 8N2");
    return true;
}

// The interface a local address belongs to, for saying where frames leave.
std::string interfaceOf(in_addr local)
{
    ifaddrs *all = nullptr;
    if (::getifaddrs(&all) != 0)
        return {};
    std::string name;
    for (const ifaddrs *each = all; each; each = each->ifa_next) {
        if (each->ifa_addr && each->ifa_addr->sa_family == AF_INET
            && reinterpret_cast<const sockaddr_in *>(each->ifa_addr)->sin_addr.s_addr
                == local.s_addr) {
            name = each->ifa_name;
            break;
        }
    }
    ::freeifaddrs(all);
    return name;
}

// Asks the routing table, through a connected UDP socket that never sends, whether the frames
// have a way out and from which local address.
bool checkRoute(const OutputConfig &config, std::string &why)
{
    const uint32_t host = destination(config);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::string("cannot create a UDP socket: ") + std::strerror(errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(config.port);
    to.sin_addr.s_addr = htonl(host);
    sockaddr_in from {};
    socklen_t size = sizeof from;
    const bool routed = ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&from), &size) == 0;
    const int error = errno;
    ::close(fd);
    if (!routed) {
        // The output still opens (the button shows "DAS OK") and sends once a route appears.
        line("Warning", "no route to " + ipv4Text(host) + " (" + std::strerror(error)
                + "): frames are dropped until the network is up");
        return true;
    }
    const std::string name = interfaceOf(from.sin_addr);
    line("Route", "frames leave from " + ipv4Text(ntohl(from.sin_addr.s_addr))
            + (name.empty() ? "" : " (" + name + ")"));
    return true;
}

// Whether command 1 would open the output, checked without putting a frame on any wire.
bool checkOutput(const OutputConfig &config, std::string &why)
{
    switch (config.kind) {
    case OutputKind::ArtNet:
    case OutputKind::Sacn:
        // Opening a network output only makes its socket; the goodbye packets of a close are
        // sent by stop(), which is never called here.
        if (!openOutput(config, why))
            return false;
        return checkRoute(config, why);
    case OutputKind::UsbPro:
        return checkUsbPro(config, why);
    case OutputKind::OpenDmx:
        return checkOpenDmx(config, why);
    case OutputKind::Ola: {
        std::string report;
        const bool ok = checkOla(config, report, why);
        if (!report.empty())
            line("OLA", report);
        return ok;
    }
    case OutputKind::None:
        why = "the setting turns the output off";
        return false;
    }
    return false;
}

int scan()
{
    const UsbSerialDevices found = findUsbSerialDevices();
    for (const std::string &other : found.others)
        std::printf("%s\n", notAskedText(other).c_str());
    if (found.dmx.empty()) {
        std::printf("No USB serial device that says it is a DMX interface (ENTTEC or DMX in its "
                    "/dev/serial/by-id name or its USB strings).\n");
        return 1;
    }
    int widgets = 0;
    for (const WidgetReply &reply : askWidgets(found.dmx, kWidgetAnswerWait)) {
        std::printf("%s: %s\n", reply.device.c_str(), widgetText(reply).c_str());
        widgets += reply.answered ? 1 : 0;
    }
    return widgets > 0 ? 0 : 1;
}

// Everything but --wait: the check or the scan, and its exit status.
int run(const std::vector<std::string_view> &args)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.size() == 1 && args[0] == "--scan")
        return scan();
    if (!args.empty()) {
        std::fprintf(stderr, "brivane-check: unknown argument \"%s\"\n\n%s",
            std::string(args[0]).c_str(), kUsage);
        return 2;
    }

    OutputSetting setting;
    std::string why;
    const auto config = findOutputSetting(setting, why);
    line("Setting", setting.source == SettingSource::Default ? "(none)" : setting.text);
    line("From", sourceText(setting));
    if (!config) {
        line("Result", "the interface button would show \"DAS NG\": " + why);
        return 1;
    }
    line("Output", describe(*config));
    if (!checkOutput(*config, why)) {
        line("Result", "the interface button would show \"DAS NG\": " + why);
        return 1;
    }
    line("Result", "the interface button would open this output (\"DAS OK\")");
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    std::vector<std::string_view> args(argv + 1, argv + argc);
    const auto wait = std::erase(args, "--wait") > 0;
    const int status = run(args);
    if (wait) {
        std::printf("\nPress Enter to close.");
        std::fflush(stdout);
        std::getchar();
    }
    return status;
}
