// DASHARD_OUTPUT parsing on arbitrary text: every accepted value lies in its kind's ranges, and
// writing it back in the accepted forms parses to the same output.
#include "check.h"
#include "output_spec.h"

#include <arpa/inet.h>
#include <string>
#include <tuple>

namespace {

bool dottedIpv4(const std::string &host)
{
    in_addr address {};
    return inet_pton(AF_INET, host.c_str(), &address) == 1;
}

void checkRanges(const das::OutputSpec &spec)
{
    using das::OutputKind;
    switch (spec.kind) {
    case OutputKind::ArtNet:
        FUZZ_CHECK(dottedIpv4(spec.host) && spec.port >= 1);
        FUZZ_CHECK(spec.universe >= 0 && spec.universe <= 32767);
        break;
    case OutputKind::Sacn:
        FUZZ_CHECK(spec.host.empty() || dottedIpv4(spec.host));
        FUZZ_CHECK(spec.port == 5568 && spec.universe >= 1 && spec.universe <= 63999);
        break;
    case OutputKind::Ola:
        FUZZ_CHECK(spec.universe >= 1 && spec.universe <= 63999);
        break;
    case OutputKind::UsbPro:
    case OutputKind::OpenDmx:
        FUZZ_CHECK(!spec.device.empty());
        break;
    case OutputKind::None:
        break;
    }
}

std::string written(const das::OutputSpec &spec)
{
    const std::string universe = "@" + std::to_string(spec.universe);
    switch (spec.kind) {
    case das::OutputKind::ArtNet:
        return "artnet:" + spec.host + ":" + std::to_string(spec.port) + universe;
    case das::OutputKind::Sacn:
        return "sacn" + (spec.host.empty() ? "" : ":" + spec.host) + universe;
    case das::OutputKind::UsbPro:
        return "usbpro:" + spec.device;
    case das::OutputKind::OpenDmx:
        return "opendmx:" + spec.device;
    case das::OutputKind::Ola:
        return "ola" + universe;
    case das::OutputKind::None:
        break;
    }
    return "none";
}

auto fields(const das::OutputSpec &s)
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
    const auto spec = das::parseOutputSpec(text, why);
    if (!spec) {
        FUZZ_CHECK(!why.empty());
        return 0;
    }
    checkRanges(*spec);
    const auto again = das::parseOutputSpec(written(*spec), why);
    FUZZ_CHECK(again && fields(*again) == fields(*spec));
    return 0;
}
