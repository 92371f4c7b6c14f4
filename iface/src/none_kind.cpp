// The none kind: no output at all, for a machine that should never drive lights.
#include "dashard.h"
#include "output_kind.h"

namespace das {

namespace {

std::optional<OutputConfig> parse(std::string_view rest, std::string &why)
{
    if (!rest.empty()) {
        why = "none takes no target or universe";
        return std::nullopt;
    }
    return OutputConfig {};
}

std::unique_ptr<Backend> open(const OutputConfig &, std::string &why)
{
    why = "output disabled";
    return nullptr;
}

std::string describe(const OutputConfig &)
{
    return "no output: the interface button always shows \"" DAS_CAPTION_NG "\"";
}

bool check(const OutputConfig &, const Say &, std::string &why)
{
    why = "the setting turns the output off";
    return false;
}

} // namespace

extern const OutputKindUnit kNoneKind
    = { "none", "none", parse, open, describe, check, nullptr, {} };

} // namespace das
