// What the serial kinds (usbpro, opendmx) share: the setting's device path, whether this user may
// use a device, the line on a device detection leaves alone, and the outputs' factories.
#pragma once

#include "output_kind.h"

namespace das {

// ":DEVICE" after the name: everything after the colon, '@' and ',' included. `pathNeeded` for a
// kind that cannot find its device itself.
std::optional<OutputConfig> parseSerial(
    std::string_view name, bool pathNeeded, std::string_view rest, std::string &why);

// Whether this user may use a serial device: it exists, may be read and written, and no other
// program holds it. On failure `why` says what to do about it.
bool deviceUsable(const std::string &path, std::string &why);

// One line on a USB serial device auto-detection leaves alone, and the setting of each serial
// kind that would use it.
std::string notAskedText(const std::string &device);

std::unique_ptr<Backend> openUsbPro(const OutputConfig &config, std::string &why);
std::unique_ptr<Backend> openOpenDmx(const OutputConfig &config, std::string &why);

} // namespace das
