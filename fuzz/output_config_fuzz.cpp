// DASHARD_OUTPUT parsing on arbitrary text: every accepted value lies in its kind's ranges, and
// writing it back in the accepted forms parses to the same output.
#include "check.h"
#include "output_config.h"

#include <arpa/inet.h>
#include <string>
#include <tuple>

namespace {

bool dottedIpv4(const std::string &host)
{
    in_addr address {};
    return inet_pton(AF_INET, host.c_str(), &address) == 1;
}

void checkRanges(const das::OutputConfig &config)
{
    using das::OutputKind;
    switch (config.kind) {
    case OutputKind::ArtNet:
        FUZZ_CHECK(dottedIpv4(config.host) && config.port >= 1);
        FUZZ_CHECK(config.universe >= 0 && config.universe <= 32767);
        break;
    case OutputKind::Sacn:
        FUZZ_CHECK(config.host.empty() || dottedIpv4(config.host));
        FUZZ_CHECK(config.port == 5568 && config.universe >= 1 && config.universe <= 63999);
        break;
    case OutputKind::Ola:
        FUZZ_CHECK(config.universe >= 1 && config.universe <= 63999);
        break;
    case OutputKind::UsbPro: // an empty device means whichever widget answers
        break;
    case OutputKind::OpenDmx:
        FUZZ_CHECK(!config.device.empty());
        break;
    case OutputKind::None:
        break;
    }
}

std::string written(const das::OutputConfig &config)
{
    const std::string universe = "@" + std::to_string(config.universe);
    switch (config.kind) {
    case das::OutputKind::ArtNet:
        return "artnet:" + config.host + ":" + std::to_string(config.port) + universe;
    case das::OutputKind::Sacn:
        return "sacn" + (config.host.empty() ? "" : ":" + config.host) + universe;
    case das::OutputKind::UsbPro:
        return config.device.empty() ? "usbpro" : "usbpro:" + config.device;
    case das::OutputKind::OpenDmx:
        return "opendmx:" + config.device;
    case das::OutputKind::Ola:
        return "ola" + universe;
    case das::OutputKind::None:
        break;
    }
    return "none";
}

auto fields(const das::OutputConfig &s)
{
    return std::tie(s.kind, s.host, s.port, s.universe, s.device);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The value comes from the environment, which cannot hold a NUL.
    std::string_view text(reinterpret_cast<const char *>(data), size);
    text = text.substr(0, text.find('\0'));
    std::string why;
    const auto config = das::parseOutputConfig(text, why);
    if (!config) {
        FUZZ_CHECK(!why.empty());
        return 0;
    }
    checkRanges(*config);
    const auto again = das::parseOutputConfig(written(*config), why);
    FUZZ_CHECK(again && fields(*again) == fields(*config));
    return 0;
}
