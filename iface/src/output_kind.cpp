// The kinds of output, one row each. A static library drops a unit nothing refers to, so the
// table names each kind's unit rather than letting units enter themselves.
#include "output_kind.h"

namespace das {

extern const OutputKindUnit kArtNetKind, kSacnKind, kUsbProKind, kOpenDmxKind, kOlaKind, kNoneKind;

namespace {

const OutputKindUnit *const kUnits[] = {
    &kArtNetKind,
    &kSacnKind,
    &kUsbProKind,
    &kOpenDmxKind,
    &kOlaKind,
    &kNoneKind,
};

} // namespace

std::span<const OutputKindUnit *const> outputKinds() { return kUnits; }

const OutputKindUnit &outputKind(const OutputConfig &config)
{
    for (const OutputKindUnit *unit : kUnits)
        if (unit->name == config.kind)
            return *unit;
    return kNoneKind;
}

std::string outputForms()
{
    std::string forms;
    for (const OutputKindUnit *unit : kUnits)
        forms += (forms.empty() ? "" : " | ") + std::string(unit->form);
    return forms;
}

std::optional<OutputConfig> parseOutputConfig(std::string_view text, std::string &why)
{
    if (text.empty())
        text = kArtNetKind.name;
    const auto nameEnd = text.find_first_of(":@,");
    const std::string_view name = text.substr(0, nameEnd);
    const std::string_view rest
        = nameEnd == std::string_view::npos ? std::string_view {} : text.substr(nameEnd);
    for (const OutputKindUnit *unit : kUnits) {
        if (unit->name != name)
            continue;
        auto config = unit->parse(rest, why);
        if (config)
            config->kind = name;
        return config;
    }
    why = "unknown output kind \"" + std::string(name) + "\"";
    return std::nullopt;
}

} // namespace das
