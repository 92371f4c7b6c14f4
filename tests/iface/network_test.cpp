// The network outputs on networks of their own: the setting's interface and priority, the way out
// chosen at open, the end of a stream that goes nowhere, and brivane-check's look at the wire.
// Each network case runs in a private namespace joined by two veth pairs to two more, standing in
// for two lighting networks (10.1/16 by lan1, 10.2/16 by lan2), with no default route.
#include "backends/udp_output.h"
#include "dashard.h"
#include "encode/sacn.h"
#include "net_support.h"
#include "output_config.h"
#include "shell.h"

#include <atomic>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <thread>

namespace {

using Bytes = std::vector<uint8_t>;

// Settings: each row the text and the fields it gives, or "error: " and part of why not.
struct ParseCase
{
    const char *name, *text, *want;
};
void PrintTo(const ParseCase &c, std::ostream *os) { *os << c.text; }
std::string fields(const das::OutputConfig &c)
{
    return c.host + " u" + std::to_string(c.universe) + " if=" + c.interface + " p"
        + std::to_string(c.priority) + (c.device.empty() ? "" : " " + c.device);
}
const ParseCase kParse[] = {
    { "SacnInterfaceAndPriority", "sacn@5,if=eth1,priority=150", " u5 if=eth1 p150" },
    { "PriorityBottom", "sacn,priority=0", " u1 if= p0" },
    { "PriorityPastTheTop", "sacn,priority=201", "error: priority out of range 0-200" },
    { "PriorityIsSacnOnly", "artnet@3,priority=150", "error: \"priority\" is for sacn only" },
    { "ArtNetByAddressNoHost", "artnet,if=10.0.0.5", " u0 if=10.0.0.5 p100" },
    { "ArtNetEveryPart", "artnet:10.0.0.9:6455@3,if=eth1", "10.0.0.9 u3 if=eth1 p100" },
    { "InterfaceTwice", "sacn@5,if=eth1,if=eth2", "error: option \"if\" given twice" },
    { "InterfaceEmpty", "sacn@5,if=", "error: if=\"\" is not an interface name" },
    { "InterfaceTooLong", "sacn,if=abcdefghijklmnop", "error: is not an interface name" },
    { "UnknownOption", "sacn@5,ttl=4", "error: unknown option \"ttl=4\"" },
    { "SerialPathKeepsItsComma", "usbpro:/dev/a,b@1", " u-1 if= p100 /dev/a,b@1" },
    { "OlaUniverseZero", "ola@0", " u0 if= p100" },
    { "OlaPastSacnRange", "ola@70000", " u70000 if= p100" },
    { "OlaTop", "ola@4294967295", " u4294967295 if= p100" },
    { "OlaPastTheTop", "ola@4294967296", "error: universe out of range 0-4294967295" },
};
class Parse : public testing::TestWithParam<ParseCase>
{
};
TEST_P(Parse, GivesItsFieldsOrSaysWhy)
{
    std::string why;
    const auto config = das::parseOutputConfig(GetParam().text, why);
    const std::string got = config ? fields(*config) : "error: " + why;
    const std::string want = GetParam().want;
    EXPECT_TRUE(want.starts_with("error: ") ? got.find(want.substr(7)) != std::string::npos
                                            : got == want)
        << GetParam().text << " gave " << got;
}
INSTANTIATE_TEST_SUITE_P(Setting, Parse, testing::ValuesIn(kParse),
    [](const auto &row) { return std::string(row.param.name); });

// The failure rule, tick by tick: the error each send ended in (0: it left), and the tick of the
// first DAS_E_IO (-1: none).
struct FailureCase
{
    const char *name;
    std::vector<int> errors;
    int firstIo;
};
void PrintTo(const FailureCase &c, std::ostream *os) { *os << c.name; }
std::vector<int> times(int n, int error) { return std::vector<int>(size_t(n), error); }
std::vector<int> operator+(std::vector<int> a, const std::vector<int> &b)
{
    return a.insert(a.end(), b.begin(), b.end()), a;
}
const FailureCase kFailures[] = {
    { "NineLostThenOneLeftStaysALoss", times(9, ENETUNREACH) + times(1, 0) + times(9, ENETUNREACH),
        -1 },
    { "ASecondOfLossEndsTheStream", times(1, 0) + times(12, ENETUNREACH), 10 },
    { "LossesOfAnyKindCountTogether", times(5, ENETDOWN) + times(5, EAGAIN), 9 },
    { "NobodyListeningIsNoFault", times(30, ECONNREFUSED), -1 },
    { "NobodyListeningBreaksARunOfLosses",
        times(9, EHOSTUNREACH) + times(1, ECONNREFUSED) + times(9, EHOSTUNREACH), -1 },
    { "ABrokenSocketEndsAtOnce", times(1, 0) + times(1, EBADF), 1 },
};
class Failures : public testing::TestWithParam<FailureCase>
{
};
TEST_P(Failures, EndTheStreamAfterASecondOfThem)
{
    das::SendFailures failures;
    int firstIo = -1;
    for (size_t tick = 0; tick < GetParam().errors.size() && firstIo < 0; ++tick)
        if (failures.record(GetParam().errors[tick]) == DAS_E_IO)
            firstIo = int(tick);
    EXPECT_EQ(firstIo, GetParam().firstIo);
}
INSTANTIATE_TEST_SUITE_P(Send, Failures, testing::ValuesIn(kFailures),
    [](const auto &row) { return std::string(row.param.name); });

// Runs `body` in a child with a network namespace of its own, or skips saying why.
void inOwnNetwork(const std::function<void()> &body)
{
    fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        alarm(60);
        if (unshare(CLONE_NEWNET) != 0 || std::system("ip link set lo up") != 0)
            _exit(77);
        body();
        fflush(stdout);
        _exit(testing::Test::HasFailure() ? 1 : testing::Test::IsSkipped() ? 77 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no private network namespaces and veth pairs here (needs CAP_SYS_ADMIN and ip)";
    EXPECT_EQ(status, 0) << "the child failed, see above";
}

// The two networks: lanN here is 10.N.0.1/16, its peer in net[N-1] 10.N.0.2/16.
struct Lan
{
    nettest::Netns net[2];
    bool ok = net[0].ok() && net[1].ok();
    Lan()
    {
        for (int n = 1; ok && n <= 2; ++n) {
            const std::string N = std::to_string(n), pid = std::to_string(net[n - 1].pid());
            ok = std::system(("ip link add lan" + N + " type veth peer name peer netns " + pid
                                 + " && ip addr add 10." + N + ".0.1/16 dev lan" + N
                                 + " && ip link set lan" + N + " up")
                                 .c_str())
                    == 0
                && net[n - 1].inside([&] {
                       ok = std::system(("ip link set lo up && ip addr add 10." + N
                                            + ".0.2/16 dev peer && ip link set peer up")
                                            .c_str())
                           == 0;
                   })
                && ok;
        }
    }
};

uint32_t ip(int network, int host) { return 0x0a000000u | uint32_t(network) << 16 | uint32_t(host); }

// A receiver on `port` in each network, joined to sACN universe 5's group there.
struct Receivers
{
    std::unique_ptr<nettest::UdpReceiver> in[2];
    Receivers(const Lan &lan, uint16_t port)
    {
        for (int n = 0; n < 2; ++n)
            lan.net[n].inside([&] {
                in[n] = std::make_unique<nettest::UdpReceiver>(port, INADDR_ANY);
                in[n]->joinGroup(das::sacnMulticastGroup(5), ip(n + 1, 2));
            });
    }
};

int dasOpen(const std::string &output)
{
    setenv("DASHARD_OUTPUT", output.c_str(), 1);
    return DasCall(DAS_CMD_OPEN, 0, nullptr);
}
int dasSend()
{
    static uint8_t levels[DAS_FRAME_SIZE] = { 1, 2, 3 };
    return DasCall(DAS_CMD_SEND, DAS_FRAME_SIZE, levels);
}
std::string check(const std::string &output, const std::string &arguments, int &status)
{
    return testsupport::run("env -u XDG_CONFIG_DIRS HOME=/nonexistent DASHARD_OUTPUT='" + output
            + "' timeout 20 " BRIVANE_CHECK " " + arguments + " 2>&1",
        &status);
}

// The way out: `setUp` runs here first; `reaches` says which networks hear the frames ("1", "2",
// "" for none); `said` must be in the library's stderr and in brivane-check's report.
struct PathCase
{
    const char *name, *setUp, *output;
    int result;
    const char *reaches, *said;
};
void PrintTo(const PathCase &c, std::ostream *os) { *os << c.output; }
const PathCase kPaths[] = {
    { "SacnByTheNamedInterface", "", "sacn@5,if=lan1,priority=150", DAS_OK, "1",
        "frames leave by lan1 from 10.1.0.1 (the interface the setting names)" },
    { "SacnByAnInterfaceAddress", "", "sacn@5,if=10.2.0.1", DAS_OK, "2", "by lan2 from 10.2.0.1" },
    { "ArtNetToTheInterfaceBroadcast", "", "artnet@3,if=lan2", DAS_OK, "2",
        "Art-Net to 10.2.255.255:6454, port-address 3" },
    { "ArtNetLimitedBroadcastStaysOnItsInterface", "", "artnet:255.255.255.255,if=lan1", DAS_OK,
        "1", "by lan1 from 10.1.0.1" },
    { "ArtNetUnicastByTheRoutingTable", "", "artnet:10.2.0.2", DAS_OK, "2",
        "by lan2 from 10.2.0.1 (as the routing table says)" },
    // The kernel takes a node the named interface has no route to as on its link: frames look
    // for it there and never take the way to where it is.
    { "UnicastToAnotherNetworkNeverLeavesByIt", "", "artnet:10.2.0.2,if=lan1", DAS_OK, "",
        "by lan1 from 10.1.0.1" },
    { "NoSuchInterfaceListsThoseThereAre", "", "sacn@5,if=eth9", DAS_E_UNAVAILABLE, "",
        "no network interface \"eth9\" with an IPv4 address here; there are: lo 127.0.0.1, "
        "lan1 10.1.0.1, lan2 10.2.0.1" },
    { "TwoInterfacesNoneNamedListsBoth", "", "sacn@5", DAS_E_UNAVAILABLE, "",
        "no route to 239.255.0.5 (Network is unreachable): name the interface to use with "
        "\",if=NAME\"; there are: lo 127.0.0.1, lan1 10.1.0.1, lan2 10.2.0.1" },
    { "TheOnlyInterfaceUpIsUsed", "ip link set lan2 down", "sacn@5", DAS_OK, "1",
        "by lan1 from 10.1.0.1 (no route, and the only interface up)" },
    { "UnicastWithoutARouteIsRefused", "ip link set lan2 down", "artnet:10.2.0.2",
        DAS_E_UNAVAILABLE, "", "no route to 10.2.0.2 (Network is unreachable): name the interface" },
};
class Paths : public testing::TestWithParam<PathCase>
{
};
TEST_P(Paths, FramesReachTheChosenNetworkOnly)
{
    const PathCase &c = GetParam();
    inOwnNetwork([&] {
        Lan lan;
        if (!lan.ok)
            _exit(77);
        ASSERT_EQ(std::system(c.setUp), 0);
        Receivers receivers(lan, std::string(c.output).starts_with("sacn") ? 5568 : 6454);
        // The trace in memory: what an open found by itself is there too.
        const int trace = memfd_create("trace", 0);
        setenv("DASHARD_TRACE", ("/proc/self/fd/" + std::to_string(trace)).c_str(), 1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(dasOpen(c.output), c.result);
        const std::string stderrText = testing::internal::GetCapturedStderr();
        std::string traced(4096, '\0');
        traced.resize(size_t(std::max<ssize_t>(pread(trace, traced.data(), traced.size(), 0), 0)));
        EXPECT_EQ(traced.find("\n# output \"" + std::string(c.output) + "\": "
                      + (c.output[0] == 's' ? "sACN" : "Art-Net") + " leaves " + c.said)
                != std::string::npos,
            std::string(c.name) == "TheOnlyInterfaceUpIsUsed")
            << traced;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(dasSend(), c.result == DAS_OK ? DAS_OK : DAS_E_NOT_OPEN);
        std::string why;
        const int priority = das::parseOutputConfig(c.output, why)->priority;
        for (int n = 0; n < 2; ++n) {
            const bool want = std::string(c.reaches).find(char('1' + n)) != std::string::npos;
            const auto packet = receivers.in[n]->receive(want ? 2000 : 300);
            EXPECT_EQ(packet.has_value(), want) << "network " << n + 1;
            if (packet && packet->size() == das::kSacnPacketSize) // the setting's priority
                EXPECT_EQ((*packet)[108], priority);
        }
        DasCall(DAS_CMD_CLOSE, 0, nullptr);
        int status = -1;
        const std::string report = check(c.output, "", status);
        EXPECT_EQ(status, c.result == DAS_OK ? 0 : 1) << report;
        EXPECT_NE(report.find(c.said), std::string::npos) << report;
        if (c.result != DAS_OK || std::string(c.setUp).size())
            EXPECT_NE(stderrText.find(c.said), std::string::npos) << stderrText;
    });
}
INSTANTIATE_TEST_SUITE_P(Network, Paths, testing::ValuesIn(kPaths),
    [](const auto &row) { return std::string(row.param.name); });

// A way out that goes away mid-stream: sends go on succeeding for the nine ticks after `cut`,
// then the stream ends with DAS_E_IO and one line naming the error and the destination.
struct CutCase
{
    const char *name, *output, *cut, *said;
};
void PrintTo(const CutCase &c, std::ostream *os) { *os << c.output; }
const CutCase kCuts[] = {
    { "PinnedSacnLinkDown", "sacn@5,if=lan1", "ip link set lan1 down",
        "sACN to 239.255.0.5:5568 goes nowhere (" },
    { "RoutedUnicastLinkDown", "artnet:10.1.0.2@3", "ip link set lan1 down",
        "Art-Net to 10.1.0.2:6454 goes nowhere (Network is unreachable)" },
    { "PinnedInterfaceLosesItsAddress", "artnet@3,if=lan1", "ip addr flush dev lan1",
        "Art-Net to 10.1.255.255:6454 goes nowhere (" },
};
class Cuts : public testing::TestWithParam<CutCase>
{
};
TEST_P(Cuts, EndTheStreamAfterASecondNotAtTheFirstLoss)
{
    const CutCase &c = GetParam();
    inOwnNetwork([&] {
        Lan lan;
        if (!lan.ok)
            _exit(77);
        ASSERT_EQ(dasOpen(c.output), DAS_OK);
        for (int i = 0; i < 5; ++i)
            ASSERT_EQ(dasSend(), DAS_OK);
        ASSERT_EQ(std::system(c.cut), 0);
        testing::internal::CaptureStderr();
        int ticks = 0;
        while (ticks < 30 && dasSend() == DAS_OK)
            ++ticks;
        const std::string said = testing::internal::GetCapturedStderr();
        // A frame or two may still have been taken on the way down; none after a dozen.
        EXPECT_GE(ticks, 9);
        EXPECT_LE(ticks, 12);
        EXPECT_EQ(dasSend(), DAS_E_NOT_OPEN);
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    });
}
INSTANTIATE_TEST_SUITE_P(Network, Cuts, testing::ValuesIn(kCuts),
    [](const auto &row) { return std::string(row.param.name); });

// An Art-Net node of 2 output ports (port-addresses 19 and 20) that answers one ArtPoll.
Bytes artPollReply()
{
    Bytes reply(239);
    const Bytes head = { 'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x21, // OpPollReply, LE
        10, 1, 0, 2, 0x36, 0x19 }; // its address, then port 6454, LE
    std::copy(head.begin(), head.end(), reply.begin());
    reply[18] = 0, reply[19] = 1; // Net 0, Sub-Net 1
    const std::string shortName = "Fake node", longName = "A node the test plays";
    std::copy(shortName.begin(), shortName.end(), reply.begin() + 26);
    std::copy(longName.begin(), longName.end(), reply.begin() + 44);
    reply[173] = 2; // two ports
    reply[174] = reply[175] = 0x80; // both output DMX
    reply[190] = 3, reply[191] = 4; // their universes: port-addresses 0x13 and 0x14
    return reply;
}

// What brivane-check --scan sees: `output` the setting; a node in network 1 answers ArtPoll, and
// with `rival` a second sACN source sends universe 5 there at priority 150; `hold` takes UDP 5568
// here first. Every part of `said` must be in the report.
struct ScanCase
{
    const char *name, *output;
    bool rival, hold;
    int status;
    std::vector<std::string> said;
};
void PrintTo(const ScanCase &c, std::ostream *os) { *os << c.output; }
const ScanCase kScans[] = {
    { "ArtNetNodeListedAndMarked", "artnet@20,if=lan1", false, false, 0,
        { "Art-Net: ArtPoll sent to 10.1.255.255 by lan1; 1 node answered within 3 s",
            "  10.1.0.2 \"Fake node\" \"A node the test plays\", outputs port-addresses 19, 20  "
            "<- outputs port-address 20" } },
    { "RivalSourceAtAHigherPriorityWarned", "sacn@5,if=lan1", true, false, 1,
        { "sACN: listened 3 s for universe 5 by lan1; 1 other source sending it",
            "  10.1.0.2 CID 0102", "\"Rival\", priority 150",
            "Warning: \"Rival\" at 10.1.0.2 sends universe 5 at priority 150, not below ours "
            "(100): two consoles fight for the same lights" } },
    { "RivalBelowOurPriorityOnlyListed", "sacn@5,if=lan1,priority=151", true, false, 0,
        { "1 other source sending it", "\"Rival\", priority 150" } },
    { "HeldPortNamedAndTheRestScanned", "sacn@5,if=lan1,priority=150", true, true, 1,
        { "Warning: sACN not heard: UDP port 5568 is held by ", "1 node answered" } },
    { "RivalAtOurPriorityWarned", "sacn@5,if=lan1,priority=150", true, false, 1,
        { "not below ours (150)" } },
};
class Scans : public testing::TestWithParam<ScanCase>
{
};
TEST_P(Scans, ListWhatAnswersAndWarnOfRivals)
{
    const ScanCase &c = GetParam();
    inOwnNetwork([&] {
        Lan lan;
        if (!lan.ok)
            _exit(77);
        std::unique_ptr<nettest::UdpReceiver> node, rival, held;
        lan.net[0].inside([&] {
            node = std::make_unique<nettest::UdpReceiver>(6454, INADDR_ANY);
            rival = std::make_unique<nettest::UdpReceiver>(0, ip(1, 2));
        });
        if (c.hold)
            held = std::make_unique<nettest::UdpReceiver>(5568, INADDR_ANY);
        std::atomic<bool> done = false;
        std::thread nodeThread([&] {
            sockaddr_in from {};
            socklen_t size = sizeof from;
            uint8_t poll[64];
            pollfd pfd { node->fd(), POLLIN, 0 };
            if (::poll(&pfd, 1, 5000) == 1
                && recvfrom(node->fd(), poll, sizeof poll, 0, (sockaddr *)&from, &size) >= 14
                && poll[8] == 0x00 && poll[9] == 0x20) {
                const Bytes reply = artPollReply();
                from.sin_port = htons(6454);
                sendto(node->fd(), reply.data(), reply.size(), 0, (sockaddr *)&from, size);
            }
        });
        std::thread rivalThread([&] {
            das::SacnSource source;
            source.cid = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16 };
            source.name = "Rival", source.priority = 150, source.universe = 5;
            const in_addr on { htonl(ip(1, 2)) };
            setsockopt(rival->fd(), IPPROTO_IP, IP_MULTICAST_IF, &on, sizeof on);
            const sockaddr_in group { AF_INET, htons(5568), { htonl(das::sacnMulticastGroup(5)) }, {} };
            std::array<uint8_t, das::kSacnPacketSize> packet;
            std::array<uint8_t, 512> levels {};
            for (uint8_t sequence = 0; c.rival && !done && sequence < 100; ++sequence) {
                das::encodeSacnData(packet, source, sequence, 0, levels);
                sendto(rival->fd(), packet.data(), packet.size(), 0, (sockaddr *)&group, sizeof group);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        int status = -1;
        const std::string report = check(c.output, "--scan", status);
        done = true;
        nodeThread.join();
        rivalThread.join();
        EXPECT_EQ(status, c.status) << report;
        for (const std::string &part : c.said)
            EXPECT_NE(report.find(part), std::string::npos) << part << "\nin:\n" << report;
        // The scan left no port open: 6454 and 5568 are free again (unless the test holds one).
        EXPECT_TRUE(nettest::UdpReceiver(6454, INADDR_ANY).ok());
        EXPECT_TRUE(c.hold || nettest::UdpReceiver(5568, INADDR_ANY).ok());
    });
}
INSTANTIATE_TEST_SUITE_P(Network, Scans, testing::ValuesIn(kScans),
    [](const auto &row) { return std::string(row.param.name); });

} // namespace
