// DASHARD_OUTPUT parsing on arbitrary text: every accepted value lies in its kind's ranges, and
// written back in the accepted forms it parses to the same output.
#include "check.h"
#include "output_config.h"

#include <arpa/inet.h>
#include <tuple>

namespace {

bool dotted(const std::string &host)
{
    in_addr address {};
    return inet_pton(AF_INET, host.c_str(), &address) == 1;
}

// The value in its kind's written form, once its fields are checked against the kind's ranges.
std::string written(const das::OutputConfig &c)
{
    const std::string universe = "@" + std::to_string(c.universe);
    const std::string via = c.interface.empty() ? "" : ",if=" + c.interface;
    FUZZ_CHECK(c.interface.find_first_of(",/: ") == std::string::npos && c.interface.size() < 16);
    switch (c.kind) {
    case das::OutputKind::ArtNet: // no host only with an interface: its broadcast address
        FUZZ_CHECK((dotted(c.host) || (c.host.empty() && !via.empty())) && c.port >= 1
            && c.universe >= 0 && c.universe <= 32767 && c.priority == 100);
        return "artnet" + (c.host.empty() ? "" : ":" + c.host + ":" + std::to_string(c.port)) + universe + via;
    case das::OutputKind::Sacn:
        FUZZ_CHECK((c.host.empty() || dotted(c.host)) && c.port == 5568 && c.universe >= 1 && c.universe <= 63999
            && c.priority >= 0 && c.priority <= 200);
        return "sacn" + (c.host.empty() ? "" : ":" + c.host) + universe + via + ",priority=" + std::to_string(c.priority);
    case das::OutputKind::UsbPro: // no device: whichever widget answers
        return c.device.empty() ? "usbpro" : "usbpro:" + c.device;
    case das::OutputKind::OpenDmx:
        FUZZ_CHECK(!c.device.empty());
        return "opendmx:" + c.device;
    case das::OutputKind::Ola:
        FUZZ_CHECK(c.universe >= 0 && c.universe <= 4294967295);
        return "ola" + universe;
    case das::OutputKind::None:
        break;
    }
    return "none";
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
