// Finding the USB serial devices without opening any, and telling those that say they are DMX
// interfaces from the rest. Used by usbpro auto-detection, brivane-check and the output window.
#pragma once

#include <string>
#include <vector>

namespace das {

// Where the device nodes and the kernel's device folders are: a test points them elsewhere.
struct DeviceRoots
{
    std::string dev = "/dev", sys = "/sys";
};

// The USB serial devices, found without opening any: the entries of DEV/serial/by-id by name,
// or where that folder does not exist DEV/ttyUSB* by number.
struct UsbSerialDevices
{
    // Those that say they are DMX interfaces, in the order they are tried: ENTTEC or DMX (any
    // case) in the by-id name, or in the USB manufacturer or product string the kernel shows.
    std::vector<std::string> dmx;
    // The rest, never opened: a generic USB serial adapter (an FTDI cable, an FTDI-based
    // microcontroller board) could be anything, and opening it raises DTR, which resets a board.
    std::vector<std::string> others;
};
UsbSerialDevices findUsbSerialDevices(const DeviceRoots &roots = {});

} // namespace das
