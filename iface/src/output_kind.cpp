// The kinds of output, one row each, and the one an empty setting means. A static library drops
// a unit nothing refers to, so the table names each kind's unit rather than letting units enter
// themselves.
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

const KindOption *kindOption(std::string_view kind, std::string_view name)
{
    for (const OutputKindUnit *unit : kUnits)
        for (const KindOption &option : unit->options)
            if (unit->name == kind && option.name == name)
                return &option;
    return nullptr;
}

const OutputKindUnit &defaultOutputKind() { return kArtNetKind; }

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

} // namespace das
