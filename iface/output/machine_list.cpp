// The list of targets: the library's own detection of each, in rows an operator reads.
#include "machine_list.h"

#include "output_kind.h"

#include <bit>
#include <cstdio>

namespace das {

namespace {

std::string linkText(const NetInterface &device)
{
    return device.running ? "link" : device.up ? "no link (cable out?)" : "down";
}

} // namespace

std::vector<Target> networkTargets(const std::vector<NetInterface> &devices)
{
    std::vector<Target> rows;
    for (const NetInterface &device : devices) {
        if (device.loopback)
            continue;
        if (device.addresses.empty())
            rows.push_back(
                { device.name + ": no IPv4 address, " + linkText(device), {}, device.name, {} });
        for (const NetAddress &address : device.addresses)
            rows.push_back({ device.name + ": " + ipv4Text(address.address) + "/"
                    + std::to_string(std::popcount(address.netmask)) + ", " + linkText(device),
                {}, device.addresses.size() > 1 ? ipv4Text(address.address) : device.name, {} });
    }
    return rows;
}

std::vector<Target> serialTargets(
    const std::vector<WidgetReply> &replies, const std::vector<std::string> &unasked)
{
    std::vector<Target> rows;
    for (const WidgetReply &reply : replies) {
        char serial[32] = "";
        if (reply.serial)
            std::snprintf(serial, sizeof serial, ", serial number %08x", *reply.serial);
        if (reply.answered)
            rows.push_back({ "DMX USB Pro widget" + std::string(serial) + ": " + reply.device,
                "usbpro", {}, reply.device });
        else if (reply.asked)
            rows.push_back({ "Open DMX adapter (no answer as a USB Pro widget): " + reply.device,
                "opendmx", {}, reply.device });
        else
            rows.push_back({ "DMX interface, " + reply.why + ": " + reply.device, "usbpro", {},
                reply.device });
    }
    for (const std::string &device : unasked)
        rows.push_back(
            { "USB serial adapter, not asked (it may be another kind of device): " + device,
                "usbpro", {}, device });
    return rows;
}

std::vector<Target> olaTargets(bool opens, const std::string &report)
{
    if (!opens && !report.starts_with("olad answers"))
        return {};
    return { { "OLA daemon: " + report, "ola", {}, {} } };
}

std::vector<Target> findTargets()
{
    const UsbSerialDevices usb = findUsbSerialDevices();
    std::vector<Target> rows = serialTargets(askWidgets(usb.dmx, kWidgetAnswerWait), usb.others);
    const auto network = networkTargets(netInterfaces());
    rows.insert(rows.end(), network.begin(), network.end());
    std::string why, report;
    const auto ola = parseOutputConfig("ola", why);
    const bool opens = ola
        && outputKind(*ola).check(
            *ola, [&](const std::string &, const std::string &text) { report = text; }, why);
    const auto daemon = olaTargets(opens, report);
    rows.insert(rows.end(), daemon.begin(), daemon.end());
    rows.push_back({ "This machine: Art-Net to 127.0.0.1", "artnet", {}, {} });
    return rows;
}

} // namespace das
