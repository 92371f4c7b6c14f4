// Finding the USB serial devices: udev's by-id links or the ttyUSB nodes, and whether each says
// it is a DMX interface, by its name or the USB strings sysfs shows, all without opening it.
#include "serial/usb_serial.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>

namespace das {

namespace {

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

} // namespace das
