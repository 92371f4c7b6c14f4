// The serial kinds' shared part.
#include "serial/serial_kind.h"

#include "serial/serial_port.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace das {

// Serial outputs have no universe or options, so a path may hold '@' and ','.
std::optional<OutputConfig> parseSerial(
    std::string_view name, bool pathNeeded, std::string_view rest, std::string &why)
{
    OutputConfig config;
    if (rest.empty() && !pathNeeded)
        return config;
    if (rest.empty() || rest.front() != ':' || rest.size() == 1) {
        why = std::string(name) + " needs a device path (" + std::string(name) + ":DEVICE)";
        return std::nullopt;
    }
    config.device.assign(rest.substr(1));
    return config;
}

bool deviceUsable(const std::string &path, std::string &why)
{
    struct stat info
    {
    };
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

// The serial kinds are those whose form takes a DEVICE, so a new one is named here too.
std::string notAskedText(const std::string &device)
{
    std::vector<std::string> settings;
    for (const OutputKindUnit *kind : outputKinds())
        if (kind->form.find(":DEVICE") != std::string_view::npos)
            settings.push_back(std::string(kind->name) + ":" + device);
    std::string text = device
        + ": USB serial adapter, not asked (it may be another kind of device); if it is a DMX "
          "interface, set ";
    for (size_t i = 0; i < settings.size(); ++i)
        text += (i == 0 ? "" : i + 1 < settings.size() ? ", " : " or ") + settings[i];
    return text;
}

} // namespace das
