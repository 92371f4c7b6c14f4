// DASHARD_OUTPUT parsing: each accepted form with its defaults, and each way a value is malformed.
#include "output_config.h"

#include <gtest/gtest.h>

namespace {

TEST(OutputConfig, ParsesEachFormOrSaysWhyNot)
{
    const char *kinds[] = { "none", "artnet", "sacn", "usbpro", "opendmx", "ola" };
    // Each value with what it parses to (KIND HOST:PORT@UNIVERSE DEVICE) or a phrase of its reason.
    const std::pair<const char *, std::string> cases[] = { { "", "artnet 127.0.0.1:6454@0 " },
        { "artnet@4660", "artnet 127.0.0.1:6454@4660 " },
        { "artnet:10.0.0.255:1@32767", "artnet 10.0.0.255:1@32767 " }, { "sacn", "sacn :5568@1 " },
        { "sacn:10.1.2.3@63999", "sacn 10.1.2.3:5568@63999 " },
        { "usbpro:/dev/ttyUSB0", "usbpro :0@-1 /dev/ttyUSB0" },
        { "opendmx:/dev/by-id/usb@1", "opendmx :0@-1 /dev/by-id/usb@1" }, { "ola", "ola :0@1 " },
        { "ola@63999", "ola :0@63999 " }, { "none", "none :0@-1 " },
        { "dmx", "unknown output kind \"dmx\"" }, { "artnetx", "unknown output kind" },
        { "artnet:1.2.3.4:0", "port out of range" },
        { "artnet:1.2.3.4:65536", "port out of range" }, { "artnet:1.2.3.4:80x", "not a number" },
        { "artnet:1.2.3.4:", "not a number" }, { "artnet:1.2.3", "not a dotted IPv4 address" },
        { "artnet:1.2.3.4 ", "not a dotted IPv4 address" }, { "artnet:", "missing host" },
        { "artnet@32768", "universe out of range" }, { "artnet@1x", "not a number" },
        { "sacn@0", "universe out of range" }, { "sacn@64000", "universe out of range" },
        { "sacn:1.2.3.4:5568", "no port" }, { "usbpro", "usbpro :0@-1 " },
        { "usbpro:", "needs a device path" }, { "opendmx", "needs a device path" },
        { "opendmx:", "needs a device path" }, { "ola@0", "universe out of range" },
        { "ola:x", "no target" }, { "none@3", "none takes no" } };
    for (const auto &[text, want] : cases) {
        std::string why;
        const auto s = das::parseOutputConfig(text, why);
        std::string got = why;
        if (s)
            got = kinds[int(s->kind)] + (" " + s->host) + ":" + std::to_string(s->port) + "@"
                + std::to_string(s->universe) + " " + s->device;
        EXPECT_TRUE(s ? got == want : got.find(want) != std::string::npos)
            << '"' << text << "\" gives " << got;
    }
}

} // namespace
