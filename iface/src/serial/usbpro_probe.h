// Asking DMX USB Pro widgets: which serial devices may be one, and asking them all at once for
// their serial number and parameters. Used by the usbpro output and by brivane-check.
#pragma once

#include "serial/serial_port.h" // heldByAnotherProgram
#include "serial/usb_serial.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace das {

// How long a widget has to answer the two requests, at an open and in brivane-check alike.
inline constexpr std::chrono::milliseconds kWidgetAnswerWait { 500 };

// What auto-detection tries: findUsbSerialDevices().dmx.
std::vector<std::string> usbProCandidates(const DeviceRoots &roots = {});

struct WidgetReply
{
    std::string device;
    bool asked = false; // opened and sent the requests
    bool answered = false; // a full label-10 or label-3 reply came back
    std::optional<uint32_t> serial; // label 10 payload, LSB first (BCD digits)
    std::optional<uint16_t> firmware; // label 3 payload bytes 0-1, LSB first
    std::string why; // when not answered: "no answer", "in use by another program (flock)",
                     // "permission denied", "device hung up", ...
};

// Opens every device not held by another program, sends each the two requests at once (Get
// Serial Number, then Get Widget Parameters), and collects replies until every device has
// answered both (or failed) or `wait` has passed. Never sends DMX. Results in input order.
std::vector<WidgetReply> askWidgets(
    const std::vector<std::string> &devices, std::chrono::milliseconds wait);

// The usbpro output's way in: asks `devices` as askWidgets does and returns the port of the
// first of them, in their order, that answered, still open; all others are closed. A device
// that answers sooner than one before it waits for that one's answer, within `wait`. The port
// is not open when none answered; `replies` then says why for each device.
SerialPort firstWidget(const std::vector<std::string> &devices, std::chrono::milliseconds wait,
    std::vector<WidgetReply> &replies);

} // namespace das
