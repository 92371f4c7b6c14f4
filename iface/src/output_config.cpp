// The pieces every kind's parser reads its setting with, each with a reason for every way the text
// can be wrong.
#include "output_config.h"

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

} // namespace das
