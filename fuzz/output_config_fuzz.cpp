// DASHARD_OUTPUT parsing on arbitrary text: every accepted value, written back in its kind's
// accepted form, parses to the same output, so the form says all the parser takes.
#include "check.h"
#include "output_kind.h"

#include <tuple>

namespace {

std::string written(const das::OutputConfig &c)
{
    FUZZ_CHECK(c.interface.find_first_of(",/: ") == std::string::npos && c.interface.size() < 16);
    const std::string_view form = das::outputKind(c).form;
    const auto has = [&](const char *part) { return form.find(part) != std::string_view::npos; };
    std::string text = c.kind;
    if (has(":HOST") && !c.host.empty())
        text += ":" + c.host + (has(":PORT") ? ":" + std::to_string(c.port) : "");
    if (has(":DEVICE") && !c.device.empty())
        text += ":" + c.device;
    if (has("@U"))
        text += "@" + std::to_string(c.universe);
    if (has(",if=") && !c.interface.empty())
        text += ",if=" + c.interface;
    if (has(",priority="))
        text += ",priority=" + std::to_string(c.priority);
    return text;
}

auto fields(const das::OutputConfig &c)
{
    return std::tie(c.kind, c.host, c.port, c.universe, c.device, c.interface, c.priority);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The value comes from the environment, which cannot hold a NUL.
    std::string_view text(reinterpret_cast<const char *>(data), size);
    std::string why;
    const auto config = das::parseOutputConfig(text.substr(0, text.find('\0')), why);
    FUZZ_CHECK(config || !why.empty());
    if (config) {
        const auto again = das::parseOutputConfig(written(*config), why);
        FUZZ_CHECK(again && fields(*again) == fields(*config));
    }
    return 0;
}
