// The DMX USB Pro kind: a widget on a serial device, named or found by asking the candidates.
#include "serial/serial_kind.h"
#include "serial/usb_serial.h"
#include "serial/usbpro_probe.h"

#include <cstdio>

namespace das {

namespace {

// A widget answers when asked, so usbpro alone means whichever one answers.
std::optional<OutputConfig> parse(std::string_view rest, std::string &why)
{
    return parseSerial("usbpro", false, rest, why);
}

std::string describe(const OutputConfig &config)
{
    return config.device.empty()
        ? "the first DMX USB Pro widget that answers among the USB serial devices that say "
          "they are DMX interfaces"
        : "the DMX USB Pro widget on " + config.device;
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

bool check(const OutputConfig &config, const Say &say, std::string &why)
{
    std::vector<std::string> devices { config.device };
    if (config.device.empty()) {
        const UsbSerialDevices found = findUsbSerialDevices();
        for (const std::string &other : found.others)
            say("Device", notAskedText(other));
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
        say("Device", reply.device + ": " + widgetText(reply));
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
    say("Uses", chosen->device);
    return true;
}

// Every USB serial device: those that say they are DMX interfaces asked whether they are widgets,
// the others only listed, since opening one may reset it.
int scan(const OutputConfig *, const Say &say)
{
    const UsbSerialDevices found = findUsbSerialDevices();
    for (const std::string &other : found.others)
        say("", notAskedText(other));
    if (found.dmx.empty()) {
        say("",
            "No USB serial device that says it is a DMX interface (ENTTEC or DMX in its "
            "/dev/serial/by-id name or its USB strings).");
        return 0;
    }
    int widgets = 0;
    for (const WidgetReply &reply : askWidgets(found.dmx, kWidgetAnswerWait)) {
        say("", reply.device + ": " + widgetText(reply));
        widgets += reply.answered ? 1 : 0;
    }
    return widgets;
}

} // namespace

extern const OutputKindUnit kUsbProKind
    = { "usbpro", "usbpro[:DEVICE]", parse, openUsbPro, describe, check, scan, {} };

} // namespace das
