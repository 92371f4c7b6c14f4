// The kinds' forms, one row each, with the ranges their parsers check.
#include "setting_form.h"

#include "encode/artnet.h"
#include "encode/sacn.h"
#include "net/net_interfaces.h"
#include "output_kind.h"

#include <limits>

namespace das {

namespace {

constexpr int64_t kOlaTop = std::numeric_limits<uint32_t>::max(); // olad's universe ids

constexpr KindForm kForms[] = {
    { "artnet", "Art-Net", true, true, false, {}, "&Port-address", 0, kArtNetMaxPortAddress, 0,
        kArtNetPort },
    { "sacn", "sACN (E1.31)", true, true, false, {}, "U&niverse", kSacnMinUniverse,
        kSacnMaxUniverse, kSacnMinUniverse, 0 },
    { "usbpro", "DMX USB Pro widget", false, false, true, "the first that answers", {}, 0, 0, 0,
        0 },
    { "opendmx", "Open DMX adapter", false, false, true, "needed: /dev/…", {}, 0, 0, 0, 0 },
    { "ola", "OLA daemon", false, false, false, {}, "U&niverse", 0, kOlaTop, 1, 0 },
    { "none", "None (no output)", false, false, false, {}, {}, 0, 0, 0, 0 },
};

} // namespace

std::span<const KindForm> kindForms() { return kForms; }

int defaultPriority()
{
    for (const OutputKindUnit *unit : outputKinds())
        if (const KindOption *priority = kindOption(unit->name, "priority"))
            return static_cast<int>(priority->fallback);
    return 0;
}

const KindForm &kindForm(std::string_view kind)
{
    for (const KindForm &form : kForms)
        if (form.kind == kind)
            return form;
    return kForms[std::size(kForms) - 1];
}

std::string settingText(const FormValues &values)
{
    const KindForm &form = kindForm(values.kind);
    std::string text(form.kind);
    if (form.host && !values.host.empty()) {
        text += ":" + values.host;
        if (form.port && values.port && values.port != form.port)
            text += ":" + std::to_string(values.port);
    }
    if (form.device && !values.device.empty())
        text += ":" + values.device;
    if (!form.number.empty())
        text += "@" + std::to_string(values.universe);
    if (form.interface && !values.interface.empty())
        text += ",if=" + values.interface;
    if (const KindOption *priority = kindOption(form.kind, "priority");
        priority && values.priority != priority->fallback)
        text += ",priority=" + std::to_string(values.priority);
    return text;
}

std::string settingRefusal(const std::string &text)
{
    std::string why;
    if (text.empty())
        return "no setting: choose one from the list or the form";
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return "control character in the setting";
    return parseOutputConfig(text, why) ? std::string() : why;
}

FormValues formValues(const OutputConfig &config)
{
    const KindForm &form = kindForm(config.kind);
    FormValues values { .kind = std::string(form.kind),
        .host = config.host,
        .interface = config.interface,
        .device = config.device,
        .port = form.port && config.port != form.port ? config.port : uint16_t(0),
        .universe = form.number.empty() ? form.first : config.universe,
        .priority = kindOption(form.kind, "priority") ? config.priority : defaultPriority() };
    const bool artNetHere
        = form.kind == "artnet" && config.host == "127.0.0.1" && config.interface.empty();
    const bool sacnGroup = form.kind == "sacn" && config.universe >= kSacnMinUniverse
        && config.universe <= kSacnMaxUniverse
        && config.host == ipv4Text(sacnMulticastGroup(static_cast<uint16_t>(config.universe)));
    if ((artNetHere && !values.port) || sacnGroup)
        values.host.clear();
    return values;
}

} // namespace das
