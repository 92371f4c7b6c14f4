// The Open DMX kind: a raw FTDI adapter on a serial device, the library making the DMX timing.
#include "serial/opendmx_output.h"
#include "serial/serial_kind.h"

namespace das {

namespace {

// An Open DMX adapter never answers, so it always needs its path.
std::optional<OutputConfig> parse(std::string_view rest, std::string &why)
{
    return parseSerial("opendmx", true, rest, why);
}

std::string describe(const OutputConfig &config)
{
    return "the Open DMX adapter on " + config.device;
}

bool check(const OutputConfig &config, const Say &say, std::string &why)
{
    if (!deviceUsable(config.device, why))
        return false;
    // Opening sets the line up (250 kbaud 8N2) and reads it back; nothing is written.
    if (!openDmxLine(config.device, why)) {
        why = config.device + ": " + why;
        return false;
    }
    say("Device", config.device + ": takes 250 kbaud 8N2");
    return true;
}

} // namespace

extern const OutputKindUnit kOpenDmxKind
    = { "opendmx", "opendmx:DEVICE", parse, openOpenDmx, describe, check, nullptr, {} };

} // namespace das
