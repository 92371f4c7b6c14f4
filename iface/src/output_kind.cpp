// The kinds of output, one row each.
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

const OutputKindUnit &outputKind(OutputKind kind)
{
    for (const OutputKindUnit *unit : kUnits)
        if (unit->kind == kind)
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
