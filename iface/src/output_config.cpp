// The setting's text into a config: the kind named first, then that kind's own parser, which reads
// its pieces with the helpers here, each with a reason for every way the text can be wrong.
#include "output_config.h"

#include "output_kind.h"

#include <arpa/inet.h>
#include <charconv>
#include <netinet/in.h>
#include <optional>

namespace das {

namespace {

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

} // namespace

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

std::optional<OutputConfig> parseOutputConfig(std::string_view text, std::string &why)
{
    if (text.empty())
        text = defaultOutputKind().name;
    const auto nameEnd = text.find_first_of(":@,");
    const std::string_view name = text.substr(0, nameEnd);
    const std::string_view rest
        = nameEnd == std::string_view::npos ? std::string_view {} : text.substr(nameEnd);
    for (const OutputKindUnit *unit : outputKinds()) {
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
