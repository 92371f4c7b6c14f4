// Parsing of DASHARD_OUTPUT: KIND[:TARGET][@UNIVERSE] into an OutputConfig, with a reason for
// every way the text can be wrong.
#include "output_config.h"

#include <arpa/inet.h>
#include <charconv>
#include <netinet/in.h>

namespace das {

namespace {

constexpr uint16_t kArtNetPort = 6454;
constexpr uint16_t kSacnPort = 5568;
constexpr int kArtNetMaxPortAddress = 32767;
constexpr int kSacnMinUniverse = 1;
constexpr int kSacnMaxUniverse = 63999;

// Strict decimal: digits only, no sign, no spaces. Six digits are enough for every field here,
// and the limit keeps the value far from overflow.
std::optional<int> parseDecimal(std::string_view text)
{
    if (text.empty() || text.size() > 6)
        return std::nullopt;
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.front() == '-'
        || text.front() == '+')
        return std::nullopt;
    return value;
}

bool isDottedIpv4(const std::string &host)
{
    in_addr addr {};
    return inet_pton(AF_INET, host.c_str(), &addr) == 1;
}

bool parseUniverse(std::string_view text, int low, int high, int &universe, std::string &why)
{
    auto value = parseDecimal(text);
    if (!value) {
        why = "universe \"" + std::string(text) + "\" is not a number";
        return false;
    }
    if (*value < low || *value > high) {
        why = "universe out of range " + std::to_string(low) + "-" + std::to_string(high);
        return false;
    }
    universe = *value;
    return true;
}

bool parseHost(std::string_view text, std::string &host, std::string &why)
{
    host.assign(text);
    if (host.empty()) {
        why = "missing host after ':'";
        return false;
    }
    // Only a literal address: a name lookup could block the caller for seconds.
    if (!isDottedIpv4(host)) {
        why = "host \"" + host + "\" is not a dotted IPv4 address";
        return false;
    }
    return true;
}

std::optional<OutputConfig> parseArtNet(std::string_view rest, std::string &why)
{
    OutputConfig config;
    config.kind = OutputKind::ArtNet;
    config.host = "127.0.0.1";
    config.port = kArtNetPort;
    config.universe = 0;

    std::string_view target = rest;
    if (auto at = rest.find('@'); at != std::string_view::npos) {
        target = rest.substr(0, at);
        if (!parseUniverse(rest.substr(at + 1), 0, kArtNetMaxPortAddress, config.universe, why))
            return std::nullopt;
    }
    if (target.empty())
        return config;
    if (target.front() != ':') {
        why = "unexpected \"" + std::string(target) + "\" after the kind";
        return std::nullopt;
    }
    target.remove_prefix(1);
    std::string_view hostText = target;
    if (auto colon = target.find(':'); colon != std::string_view::npos) {
        hostText = target.substr(0, colon);
        std::string_view portText = target.substr(colon + 1);
        auto port = parseDecimal(portText);
        if (!port) {
            why = "port \"" + std::string(portText) + "\" is not a number";
            return std::nullopt;
        }
        if (*port < 1 || *port > 65535) {
            why = "port out of range 1-65535";
            return std::nullopt;
        }
        config.port = static_cast<uint16_t>(*port);
    }
    if (!parseHost(hostText, config.host, why))
        return std::nullopt;
    return config;
}

std::optional<OutputConfig> parseSacn(std::string_view rest, std::string &why)
{
    OutputConfig config;
    config.kind = OutputKind::Sacn;
    config.port = kSacnPort;
    config.universe = kSacnMinUniverse;

    std::string_view target = rest;
    if (auto at = rest.find('@'); at != std::string_view::npos) {
        target = rest.substr(0, at);
        if (!parseUniverse(
                rest.substr(at + 1), kSacnMinUniverse, kSacnMaxUniverse, config.universe, why))
            return std::nullopt;
    }
    if (target.empty())
        return config; // no host: the universe's multicast group
    if (target.front() != ':') {
        why = "unexpected \"" + std::string(target) + "\" after the kind";
        return std::nullopt;
    }
    target.remove_prefix(1);
    if (target.find(':') != std::string_view::npos) {
        why = "sacn takes no port (it always sends to 5568)";
        return std::nullopt;
    }
    if (!parseHost(target, config.host, why))
        return std::nullopt;
    return config;
}

std::optional<OutputConfig> parseSerial(
    OutputKind kind, std::string_view name, std::string_view rest, std::string &why)
{
    // Everything after the colon is the path, '@' included: serial outputs have no universe.
    // A widget answers when asked, so usbpro alone means whichever one answers; an Open DMX
    // adapter never answers, so it always needs its path.
    OutputConfig config;
    config.kind = kind;
    if (rest.empty() && kind == OutputKind::UsbPro)
        return config;
    if (rest.empty() || rest.front() != ':' || rest.size() == 1) {
        why = std::string(name) + " needs a device path (" + std::string(name) + ":DEVICE)";
        return std::nullopt;
    }
    config.device.assign(rest.substr(1));
    return config;
}

std::optional<OutputConfig> parseOla(std::string_view rest, std::string &why)
{
    OutputConfig config;
    config.kind = OutputKind::Ola;
    config.universe = kSacnMinUniverse;
    if (rest.empty())
        return config;
    if (rest.front() != '@') {
        why = "ola takes no target, only @UNIVERSE";
        return std::nullopt;
    }
    if (!parseUniverse(rest.substr(1), kSacnMinUniverse, kSacnMaxUniverse, config.universe, why))
        return std::nullopt;
    return config;
}

} // namespace

std::optional<OutputConfig> parseOutputConfig(std::string_view text, std::string &why)
{
    if (text.empty())
        return parseArtNet({}, why);

    const auto kindEnd = text.find_first_of(":@");
    const std::string_view kind = text.substr(0, kindEnd);
    const std::string_view rest
        = kindEnd == std::string_view::npos ? std::string_view {} : text.substr(kindEnd);
    if (kind == "artnet")
        return parseArtNet(rest, why);
    if (kind == "sacn")
        return parseSacn(rest, why);
    if (kind == "usbpro")
        return parseSerial(OutputKind::UsbPro, kind, rest, why);
    if (kind == "opendmx")
        return parseSerial(OutputKind::OpenDmx, kind, rest, why);
    if (kind == "ola")
        return parseOla(rest, why);
    if (kind == "none") {
        if (!rest.empty()) {
            why = "none takes no target or universe";
            return std::nullopt;
        }
        OutputConfig config;
        config.kind = OutputKind::None;
        return config;
    }
    why = "unknown output kind \"" + std::string(kind) + "\"";
    return std::nullopt;
}

} // namespace das
