// DASHARD_OUTPUT parsing: every accepted form with its defaults, and each way a value can be
// malformed, with the reason naming the problem.
#include "output_spec.h"

#include <gtest/gtest.h>

namespace {

using das::OutputKind;

struct Accepted
{
    const char *text;
    OutputKind kind;
    const char *host;
    uint16_t port;
    int universe;
    const char *device;
};

void PrintTo(const Accepted &c, std::ostream *os) { *os << '"' << c.text << '"'; }

class AcceptedOutput : public ::testing::TestWithParam<Accepted>
{
};

TEST_P(AcceptedOutput, ParsesWithDefaults)
{
    const Accepted &c = GetParam();
    std::string why;
    const auto spec = das::parseOutputSpec(c.text, why);
    ASSERT_TRUE(spec) << why;
    EXPECT_EQ(spec->kind, c.kind);
    EXPECT_EQ(spec->host, c.host);
    EXPECT_EQ(spec->port, c.port);
    EXPECT_EQ(spec->universe, c.universe);
    EXPECT_EQ(spec->device, c.device);
}

INSTANTIATE_TEST_SUITE_P(Forms, AcceptedOutput,
    ::testing::Values(Accepted { "", OutputKind::ArtNet, "127.0.0.1", 6454, 0, "" },
        Accepted { "artnet", OutputKind::ArtNet, "127.0.0.1", 6454, 0, "" },
        Accepted { "artnet:10.0.0.255", OutputKind::ArtNet, "10.0.0.255", 6454, 0, "" },
        Accepted { "artnet:127.0.0.1:1", OutputKind::ArtNet, "127.0.0.1", 1, 0, "" },
        Accepted {
            "artnet:127.0.0.1:65535@32767", OutputKind::ArtNet, "127.0.0.1", 65535, 32767, "" },
        Accepted { "artnet@0", OutputKind::ArtNet, "127.0.0.1", 6454, 0, "" },
        Accepted { "artnet@4660", OutputKind::ArtNet, "127.0.0.1", 6454, 4660, "" },
        Accepted { "sacn", OutputKind::Sacn, "", 5568, 1, "" },
        Accepted { "sacn@63999", OutputKind::Sacn, "", 5568, 63999, "" },
        Accepted { "sacn:192.168.1.20@2", OutputKind::Sacn, "192.168.1.20", 5568, 2, "" },
        Accepted { "usbpro:/dev/ttyUSB0", OutputKind::UsbPro, "", 0, -1, "/dev/ttyUSB0" },
        Accepted { "opendmx:/dev/serial/by-id/usb-FTDI@1", OutputKind::OpenDmx, "", 0, -1,
            "/dev/serial/by-id/usb-FTDI@1" },
        Accepted { "ola", OutputKind::Ola, "", 0, 1, "" },
        Accepted { "ola@63999", OutputKind::Ola, "", 0, 63999, "" },
        Accepted { "none", OutputKind::None, "", 0, -1, "" }));

struct Rejected
{
    const char *text;
    const char *reasonHas; // a phrase the reason must contain
};

void PrintTo(const Rejected &c, std::ostream *os) { *os << '"' << c.text << '"'; }

class RejectedOutput : public ::testing::TestWithParam<Rejected>
{
};

TEST_P(RejectedOutput, SaysWhy)
{
    const Rejected &c = GetParam();
    std::string why;
    EXPECT_FALSE(das::parseOutputSpec(c.text, why));
    EXPECT_NE(why.find(c.reasonHas), std::string::npos) << "reason: " << why;
    EXPECT_EQ(why.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Malformed, RejectedOutput,
    ::testing::Values(Rejected { "dmx", "unknown output kind \"dmx\"" },
        Rejected { "ArtNet", "unknown output kind" }, Rejected { " artnet", "unknown output kind" },
        Rejected { "artnet:1.2.3:99999", "port out of range" },
        Rejected { "artnet:127.0.0.1:0", "port out of range" },
        Rejected { "artnet:127.0.0.1:65536", "port out of range" },
        Rejected { "artnet:127.0.0.1:http", "not a number" },
        Rejected { "artnet:127.0.0.1:-1", "not a number" },
        Rejected { "artnet:127.0.0.1:", "not a number" },
        Rejected { "artnet:1.2.3", "not a dotted IPv4 address" },
        Rejected { "artnet:localhost", "not a dotted IPv4 address" },
        Rejected { "artnet:", "missing host" },
        Rejected { "artnet:127.0.0.1 ", "not a dotted IPv4 address" },
        Rejected { "artnet@32768", "universe out of range" },
        Rejected { "artnet@", "not a number" }, Rejected { "artnet@1x", "not a number" },
        Rejected { "artnetx", "unknown output kind" },
        Rejected { "sacn@0", "universe out of range" },
        Rejected { "sacn@64000", "universe out of range" },
        Rejected { "sacn:127.0.0.1:5568", "no port" },
        Rejected { "sacn:10.0.0", "not a dotted IPv4 address" },
        Rejected { "usbpro", "needs a device path" }, Rejected { "usbpro:", "needs a device path" },
        Rejected { "opendmx@1", "needs a device path" }, Rejected { "ola:x", "no target" },
        Rejected { "ola@0", "universe out of range" }, Rejected { "none:x", "none takes no" },
        Rejected { "none@3", "none takes no" }));

} // namespace
