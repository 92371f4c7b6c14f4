// Parsing of DASHARD_OUTPUT: KIND[:TARGET][@UNIVERSE][,OPTION=VALUE...] into an OutputConfig,
// with a reason for every way the text can be wrong. One row per kind below.
#include "output_config.h"

#include <arpa/inet.h>
#include <charconv>
#include <net/if.h>
#include <netinet/in.h>

namespace das {

namespace {

constexpr uint16_t kArtNetPort = 6454;
constexpr uint16_t kSacnPort = 5568;
constexpr int64_t kArtNetMaxPortAddress = 32767;
constexpr int64_t kSacnMinUniverse = 1;
constexpr int64_t kSacnMaxUniverse = 63999;
constexpr int64_t kOlaMaxUniverse = 4294967295; // olad's universe ids are unsigned 32-bit
constexpr int kSacnMaxPriority = 200;

// Strict decimal: digits only, no sign, no spaces. Ten digits hold every field here, and the
// limit keeps the value far from overflow.
std::optional<int64_t> parseDecimal(std::string_view text)
{
    if (text.empty() || text.size() > 10 || text.front() == '-' || text.front() == '+')
        return std::nullopt;
    int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool isDottedIpv4(const std::string &host)
{
    in_addr addr {};
    return inet_pton(AF_INET, host.c_str(), &addr) == 1;
}

bool parseNumber(std::string_view what, std::string_view text, int64_t low, int64_t high,
    int64_t &value, std::string &why)
{
    auto parsed = parseDecimal(text);
    if (!parsed) {
        why = std::string(what) + " \"" + std::string(text) + "\" is not a number";
        return false;
    }
    if (*parsed < low || *parsed > high) {
        why = std::string(what) + " out of range " + std::to_string(low) + "-"
            + std::to_string(high);
        return false;
    }
    value = *parsed;
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

// The options after the first comma of a network output: if=INTERFACE, and for sACN
// priority=P. Each at most once.
bool parseOptions(std::string_view options, OutputConfig &config, std::string &why)
{
    bool seenInterface = false, seenPriority = false;
    while (!options.empty()) {
        const auto comma = options.find(',');
        const std::string_view option = options.substr(0, comma);
        options.remove_prefix(comma == std::string_view::npos ? options.size() : comma + 1);
        const auto equals = option.find('=');
        const std::string_view name = option.substr(0, equals);
        const std::string_view value
            = equals == std::string_view::npos ? std::string_view {} : option.substr(equals + 1);
        if (name == "if" && !seenInterface) {
            seenInterface = true;
            // An interface name as the kernel allows it, or an IPv4 address.
            if (value.empty() || value.size() >= IFNAMSIZ
                || value.find_first_of("/: \t") != std::string_view::npos) {
                why = "if=\"" + std::string(value) + "\" is not an interface name or address";
                return false;
            }
            config.interface.assign(value);
        } else if (name == "priority" && config.kind == OutputKind::Sacn && !seenPriority) {
            seenPriority = true;
            int64_t priority = 0;
            if (!parseNumber("priority", value, 0, kSacnMaxPriority, priority, why))
                return false;
            config.priority = static_cast<int>(priority);
        } else if (name == "if" || name == "priority") {
            why = "option \"" + std::string(name) + "\" "
                + (config.kind == OutputKind::Sacn || name == "if" ? "given twice"
                                                                    : "is for sacn only");
            return false;
        } else {
            why = "unknown option \"" + std::string(option) + "\"";
            return false;
        }
    }
    return true;
}

// artnet and sacn: [:HOST[:PORT]][@U][,OPTIONS]. sACN takes no port.
std::optional<OutputConfig> parseNetwork(OutputKind kind, std::string_view rest, std::string &why)
{
    OutputConfig config;
    config.kind = kind;
    const bool artnet = kind == OutputKind::ArtNet;
    config.port = artnet ? kArtNetPort : kSacnPort;
    config.universe = artnet ? 0 : kSacnMinUniverse;

    if (auto comma = rest.find(','); comma != std::string_view::npos) {
        if (!parseOptions(rest.substr(comma + 1), config, why))
            return std::nullopt;
        rest = rest.substr(0, comma);
    }
    std::string_view target = rest;
    if (auto at = rest.find('@'); at != std::string_view::npos) {
        target = rest.substr(0, at);
        if (!parseNumber("universe", rest.substr(at + 1), artnet ? 0 : kSacnMinUniverse,
                artnet ? kArtNetMaxPortAddress : kSacnMaxUniverse, config.universe, why))
            return std::nullopt;
    }
    if (target.empty()) {
        // Art-Net without a host: this machine, unless an interface is named, whose broadcast
        // address the output then finds. sACN without one: the universe's multicast group.
        if (artnet && config.interface.empty())
            config.host = "127.0.0.1";
        return config;
    }
    if (target.front() != ':') {
        why = "unexpected \"" + std::string(target) + "\" after the kind";
        return std::nullopt;
    }
    target.remove_prefix(1);
    std::string_view hostText = target;
    if (auto colon = target.find(':'); colon != std::string_view::npos) {
        if (!artnet) {
            why = "sacn takes no port (it always sends to 5568)";
            return std::nullopt;
        }
        hostText = target.substr(0, colon);
        int64_t port = 0;
        if (!parseNumber("port", target.substr(colon + 1), 1, 65535, port, why))
            return std::nullopt;
        config.port = static_cast<uint16_t>(port);
    }
    if (!parseHost(hostText, config.host, why))
        return std::nullopt;
    return config;
}

std::optional<OutputConfig> parseArtNet(std::string_view rest, std::string &why)
{
    return parseNetwork(OutputKind::ArtNet, rest, why);
}

std::optional<OutputConfig> parseSacn(std::string_view rest, std::string &why)
{
    return parseNetwork(OutputKind::Sacn, rest, why);
}

// Everything after the colon is the path, '@' and ',' included: serial outputs have no
// universe or options. A widget answers when asked, so usbpro alone means whichever one
// answers; an Open DMX adapter never answers, so it always needs its path.
std::optional<OutputConfig> parseSerial(
    OutputKind kind, std::string_view name, std::string_view rest, std::string &why)
{
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

std::optional<OutputConfig> parseUsbPro(std::string_view rest, std::string &why)
{
    return parseSerial(OutputKind::UsbPro, "usbpro", rest, why);
}

std::optional<OutputConfig> parseOpenDmx(std::string_view rest, std::string &why)
{
    return parseSerial(OutputKind::OpenDmx, "opendmx", rest, why);
}

// OLA numbers its universes itself: 0 is one of them, and the top is olad's.
std::optional<OutputConfig> parseOla(std::string_view rest, std::string &why)
{
    OutputConfig config;
    config.kind = OutputKind::Ola;
    config.universe = 1;
    if (rest.empty())
        return config;
    if (rest.front() != '@') {
        why = "ola takes no target, only @UNIVERSE";
        return std::nullopt;
    }
    if (!parseNumber("universe", rest.substr(1), 0, kOlaMaxUniverse, config.universe, why))
        return std::nullopt;
    return config;
}

std::optional<OutputConfig> parseNone(std::string_view rest, std::string &why)
{
    if (!rest.empty()) {
        why = "none takes no target or universe";
        return std::nullopt;
    }
    OutputConfig config;
    config.kind = OutputKind::None;
    return config;
}

struct KindRow
{
    std::string_view name;
    std::optional<OutputConfig> (*parse)(std::string_view rest, std::string &why);
};

constexpr KindRow kKinds[] = {
    { "artnet", parseArtNet },
    { "sacn", parseSacn },
    { "usbpro", parseUsbPro },
    { "opendmx", parseOpenDmx },
    { "ola", parseOla },
    { "none", parseNone },
};

} // namespace

std::optional<OutputConfig> parseOutputConfig(std::string_view text, std::string &why)
{
    if (text.empty())
        return parseArtNet({}, why);

    const auto kindEnd = text.find_first_of(":@,");
    const std::string_view kind = text.substr(0, kindEnd);
    const std::string_view rest
        = kindEnd == std::string_view::npos ? std::string_view {} : text.substr(kindEnd);
    for (const KindRow &row : kKinds)
        if (row.name == kind)
            return row.parse(rest, why);
    why = "unknown output kind \"" + std::string(kind) + "\"";
    return std::nullopt;
}

} // namespace das
