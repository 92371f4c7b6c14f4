// The Art-Net and sACN kinds' shared parser.
#include "net/network_kind.h"

#include <net/if.h>

namespace das {

namespace {

// The kinds whose tables take an option called `name`, for the message of a kind that does not.
std::string kindsTaking(std::string_view name)
{
    std::string kinds;
    for (const OutputKindUnit *unit : outputKinds())
        for (const KindOption &option : unit->options)
            if (option.name == name)
                kinds += (kinds.empty() ? "" : ", ") + std::string(unit->name);
    return kinds;
}

const KindOption *optionNamed(const NetworkForm &form, std::string_view name)
{
    for (const KindOption &option : form.options)
        if (option.name == name)
            return &option;
    return nullptr;
}

// The options after the first comma of a network output: if=INTERFACE, which every network kind
// takes, and the numbers of the form's table. Each at most once, none empty: a comma too many is
// a typing slip to show.
bool parseOptions(
    const NetworkForm &form, std::string_view options, OutputConfig &config, std::string &why)
{
    std::string given = ","; // the names read so far, each followed by a comma
    for (bool more = true; more;) {
        const auto comma = options.find(',');
        const std::string_view option = options.substr(0, comma);
        more = comma != std::string_view::npos;
        options.remove_prefix(more ? comma + 1 : options.size());
        if (option.empty()) {
            why = "empty option (a comma too many?)";
            return false;
        }
        const auto equals = option.find('=');
        const std::string_view name = option.substr(0, equals);
        const std::string_view value
            = equals == std::string_view::npos ? std::string_view {} : option.substr(equals + 1);
        const KindOption *number = optionNamed(form, name);
        const bool seen = given.find("," + std::string(name) + ",") != std::string::npos;
        if ((name == "if" || number) && seen) {
            why = "option \"" + std::string(name) + "\" given twice";
            return false;
        }
        if (name == "if") {
            // An interface name as the kernel allows it, or an IPv4 address.
            if (value.empty() || value.size() >= IFNAMSIZ
                || value.find_first_of("/: \t") != std::string_view::npos) {
                why = "if=\"" + std::string(value) + "\" is not an interface name or address";
                return false;
            }
            config.interface.assign(value);
        } else if (number) {
            int64_t parsed = 0;
            if (!parseNumber(number->name, value, number->lowest, number->highest, parsed, why))
                return false;
            config.*number->field = static_cast<int>(parsed);
        } else if (const std::string kinds = kindsTaking(name); !kinds.empty()) {
            why = "option \"" + std::string(name) + "\" is for " + kinds + " only";
            return false;
        } else {
            why = "unknown option \"" + std::string(option) + "\"";
            return false;
        }
        given += std::string(name) + ",";
    }
    return true;
}

} // namespace

std::optional<OutputConfig> parseNetwork(
    const NetworkForm &form, std::string_view rest, std::string &why)
{
    OutputConfig config;
    config.port = form.port;
    config.universe = form.firstUniverse;
    for (const KindOption &option : form.options)
        config.*option.field = static_cast<int>(option.fallback);

    if (auto comma = rest.find(','); comma != std::string_view::npos) {
        if (!parseOptions(form, rest.substr(comma + 1), config, why))
            return std::nullopt;
        rest = rest.substr(0, comma);
    }
    std::string_view target = rest;
    if (auto at = rest.find('@'); at != std::string_view::npos) {
        target = rest.substr(0, at);
        if (!parseNumber("universe", rest.substr(at + 1), form.firstUniverse, form.lastUniverse,
                config.universe, why))
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
        if (!form.portGiven) {
            why = std::string(form.name) + " takes no port (it always sends to "
                + std::to_string(form.port) + ")";
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

} // namespace das
