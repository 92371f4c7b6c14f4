// What this machine can send to, found by itself: the DMX USB Pro widgets that answer, the Open
// DMX adapters, the network devices with their addresses and link, the OLA daemon when it runs,
// and this machine itself (Art-Net to 127.0.0.1).
#pragma once

#include "net/net_interfaces.h"
#include "serial/usbpro_probe.h"

#include <string>
#include <vector>

namespace das {

// One row of the list, and what choosing it fills into the form.
struct Target
{
    std::string text; // "eth1: 10.0.0.5/8, link"
    std::string kind; // empty: a network device, for whichever network kind the form has
    std::string interface; // a network device: its name, or the address when it has several
    std::string device; // a serial device's path
};

// The network devices, loopback aside: one row for each, or for each address of a device with
// several, since naming the device alone would leave the library to guess among its networks.
std::vector<Target> networkTargets(const std::vector<NetInterface> &devices);

// The USB serial devices: `replies` are those that say they are DMX interfaces, asked. One that
// answered is a USB Pro widget, one that stayed silent an Open DMX adapter; the others are
// listed unasked, since asking may reset whatever they are.
std::vector<Target> serialTargets(
    const std::vector<WidgetReply> &replies, const std::vector<std::string> &unasked);

// The OLA daemon when its kind's check found it answering, with that check's report.
std::vector<Target> olaTargets(bool opens, const std::string &report);

// Every row, in the list's order. Blocks for up to about a second and a half, while widgets
// and olad are asked.
std::vector<Target> findTargets();

} // namespace das
