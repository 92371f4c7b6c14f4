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
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <thread>

namespace {

using namespace std::literals;
const auto kRowName = [](const auto &row) { return std::string(row.param.name); };

// Settings: each row the text and the fields it gives, or "error: " and part of why not.
struct ParseCase
{
    const char *name, *text, *want;
};
const ParseCase kParse[] = {
    { "SacnInterfaceAndPriority", "sacn@5,if=eth1,priority=150", " u5 if=eth1 p150" },
    { "PriorityPastTheTop", "sacn,priority=201", "error: priority out of range 0-200" },
    { "PriorityIsSacnOnly", "artnet@3,priority=150", "error: \"priority\" is for sacn only" },
    { "ArtNetByAddressNoHost", "artnet,if=10.0.0.5", " u0 if=10.0.0.5 p100" },
    { "InterfaceTwice", "sacn@5,if=eth1,if=eth2", "error: option \"if\" given twice" },
    { "UnknownOption", "sacn@5,ttl=4", "error: unknown option \"ttl=4\"" },
    { "SerialPathKeepsItsComma", "usbpro:/dev/a,b@1", " u-1 if= p100 /dev/a,b@1" },
    { "OlaUniverseZero", "ola@0", " u0 if= p100" },
    { "OlaTopPastSacnRange", "ola@4294967295", " u4294967295 if= p100" },
    { "OlaPastTheTop", "ola@4294967296", "error: universe out of range 0-4294967295" },
};
using Parse = testing::TestWithParam<ParseCase>;
TEST_P(Parse, GivesItsFieldsOrSaysWhy)
{
    std::string why;
    const auto c = das::parseOutputConfig(GetParam().text, why);
    const std::string got = !c ? "error: " + why
                               : c->host + " u" + std::to_string(c->universe) + " if=" + c->interface
            + " p" + std::to_string(c->priority) + (c->device.empty() ? "" : " " + c->device);
    const std::string want = GetParam().want;
    EXPECT_TRUE(want.starts_with("error: ") ? got.find(want.substr(7)) != std::string::npos
                                            : got == want)
        << got;
}
INSTANTIATE_TEST_SUITE_P(Setting, Parse, testing::ValuesIn(kParse), kRowName);

// The failure rule, tick by tick: `errors` are the sends' errors in order, each for `count`
// ticks (0: it left); `firstIo` the tick of the first DAS_E_IO (-1: none).
struct FailureCase
{
    const char *name;
    std::vector<std::pair<int, int>> errors; // error, count
    int firstIo;
};
const FailureCase kFailures[] = {
    { "NineLostThenOneLeftStaysALoss", { { ENETUNREACH, 9 }, { 0, 1 }, { ENETUNREACH, 9 } }, -1 },
    { "ASecondOfLossEndsTheStream", { { 0, 1 }, { ENETUNREACH, 12 } }, 10 },
    { "NobodyListeningIsNoFault", { { EHOSTUNREACH, 9 }, { ECONNREFUSED, 30 }, { EAGAIN, 9 } }, -1 },
    { "ABrokenSocketEndsAtOnce", { { 0, 1 }, { EBADF, 1 } }, 1 },
};
using Failures = testing::TestWithParam<FailureCase>;
TEST_P(Failures, EndTheStreamAfterASecondOfThem)
{
    das::SendFailures failures;
    int tick = 0, firstIo = -1;
    for (const auto &[error, count] : GetParam().errors)
        for (int i = 0; i < count; ++i, ++tick)
            if (failures.record(error) == DAS_E_IO && firstIo < 0)
                firstIo = tick;
    EXPECT_EQ(firstIo, GetParam().firstIo);
}
INSTANTIATE_TEST_SUITE_P(Send, Failures, testing::ValuesIn(kFailures), kRowName);

uint32_t ip(int network, int host) { return 0x0a000000u | uint32_t(network) << 16 | uint32_t(host); }

// The two links below; frames go nowhere until the kernel has seen both ends up (up to 1 s).
const char *const kJoin
    = "set -e; ip link set lo up; for N in 1 2; do eval P=\\$P$N; ip link add lan$N type veth peer"
      " name peer netns $P; ip addr add 10.$N.0.1/16 dev lan$N; ip link set lan$N up; nsenter -t $P"
      " -n sh -ec \"ip link set lo up; ip addr add 10.$N.0.2/16 dev peer; ip link set peer up\";"
      " done; for i in $(seq 50); do [ $(ip -br link | grep -c ' UP ') = 2 ] && nsenter -t $P1 -n"
      " ip -br link | grep -q ' UP ' && nsenter -t $P2 -n ip -br link | grep -q ' UP ' && break;"
      " sleep 0.1; done";

// In a child with a network namespace of its own, `body` gets the two networks: lanN here is
// 10.N.0.1/16, its peer in net[N-1] (process $PN) 10.N.0.2/16. Skips, saying why, where that is refused.
void onTwoNetworks(const std::function<void(nettest::Netns (&net)[2])> &body)
{
    fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        alarm(60);
        nettest::Netns net[2];
        setenv("P1", std::to_string(net[0].pid()).c_str(), 1); // for the rows' commands too
        setenv("P2", std::to_string(net[1].pid()).c_str(), 1);
        if (unshare(CLONE_NEWNET) != 0 || !net[0].ok() || !net[1].ok() || std::system(kJoin))
            _exit(77);
        body(net);
        fflush(stdout);
        _exit(testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no private network namespaces with veth pairs here (needs CAP_SYS_ADMIN, ip)";
    EXPECT_EQ(status, 0) << "the child failed, see above";
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
// "" for none); `said` must be in brivane-check's report, and in the library's stderr when the
// open fails or finds its interface itself. With `cut`, the way goes after three frames: nine
// to `lastTick` more ticks (100 ms apart) still succeed, then the stream ends with DAS_E_IO and
// one line, `said` then. With `mend`, the check and a press fail until it runs, then a press opens.
struct PathCase
{
    const char *name, *setUp, *output;
    int result;
    const char *reaches, *said, *cut = "", *mend = "";
    int lastTick = 12;
};
const char *const kSecondAddress = "ip addr add 2.0.0.5/8 dev lan1 label lan1:1";
const PathCase kPaths[] = {
    { "SacnByTheNamedInterface", "", "sacn@5,if=lan1,priority=150", DAS_OK, "1",
        "frames leave by lan1 from 10.1.0.1 (the interface the setting names)" },
    { "SacnByAnInterfaceAddress", "", "sacn@5,if=10.2.0.1", DAS_OK, "2", "by lan2 from 10.2.0.1" },
    { "ArtNetToTheInterfaceBroadcast", "", "artnet@3,if=lan2", DAS_OK, "2",
        "Art-Net to 10.2.255.255:6454, port-address 3" },
    { "ArtNetLimitedBroadcastStaysOnItsInterface", "", "artnet:255.255.255.255,if=lan1", DAS_OK,
        "1", "by lan1 from 10.1.0.1" },
    // The kernel takes a node the named interface has no route to as on its link: frames look
    // for it there and never take the way to where it is.
    { "UnicastToAnotherNetworkNeverLeavesByIt", "", "artnet:10.2.0.2,if=lan1", DAS_OK, "",
        "by lan1 from 10.1.0.1 (the interface the setting names)\nWarning:  10.2.0.2 is not on "
        "lan1's networks (10.1.0.0/16): frames reach it only if it is on that cable" },
    { "NoSuchInterfaceListsThoseThereAre", kSecondAddress, "sacn@5,if=eth9", DAS_E_UNAVAILABLE,
        "", "no network interface \"eth9\" with an IPv4 address here; there are: lo 127.0.0.1, "
        "lan1 10.1.0.1 and 2.0.0.5, lan2 10.2.0.1" },
    // A second address, labelled as ifupdown does (lan1:1): its device's, on a network of its own.
    { "ArtNetByLabelledAddressOnItsNetwork",
        "ip addr add 2.0.0.5/8 dev lan1 label lan1:1 && nsenter -t $P1 -n ip addr add 2.0.0.9/8 dev peer",
        "artnet@3,if=2.0.0.5", DAS_OK, "1",
        "2.255.255.255:6454, port-address 3\nRoute:    frames leave by lan1 from 2.0.0.5" },
    { "ArtNetByNameOfTwoNetworksRefused", kSecondAddress, "artnet@3,if=lan1", DAS_E_UNAVAILABLE, "",
        "lan1 is on several IPv4 networks (10.1.0.0/16 and 2.0.0.0/8): name the one to broadcast "
        "on by the address lan1 has there, if=10.1.0.1 or if=2.0.0.5" },
    { "TwoInterfacesNoneNamedListsBoth", "", "sacn@5", DAS_E_UNAVAILABLE, "",
        "no route to 239.255.0.5 (Network is unreachable): name the interface to use with "
        "\",if=NAME\"; there are: lo 127.0.0.1, lan1 10.1.0.1, lan2 10.2.0.1" },
    // A second address is no second interface, nor is a bridge without link (docker0, virbr0).
    { "TheOnlyLinkedInterfaceIsUsed",
        "ip link set lan2 down; ip link add br0 type bridge; ip link add d0 type veth peer name d1;"
        " ip link set d0 master br0; ip addr add 192.168.5.1/24 dev br0; ip link set br0 up; "
        "ip addr add 2.0.0.5/8 dev lan1 label lan1:1",
        "sacn@5", DAS_OK, "1", "by lan1 from 10.1.0.1 (no route, and the only interface up with a link)" },
    { "UnicastWithoutARouteIsRefused", "ip link set lan2 down", "artnet:10.2.0.2",
        DAS_E_UNAVAILABLE, "", "no route to 10.2.0.2 (Network is unreachable): name the interface" },
    { "PinnedSacnLinkDown", "", "sacn@5,if=lan1", DAS_OK, "1",
        "sACN to 239.255.0.5:5568 goes nowhere (", "ip link set lan1 down" },
    { "RoutedUnicastLinkDown", "", "artnet:10.1.0.2@3", DAS_OK, "1",
        "Art-Net to 10.1.0.2:6454 goes nowhere (Network is unreachable)", "ip link set lan1 down" },
    { "PinnedInterfaceLosesItsAddress", "", "artnet@3,if=lan1", DAS_OK, "1",
        "Art-Net to 10.1.255.255:6454 goes nowhere (", "ip addr flush dev lan1" },
    // The far end of the cable down: sends still succeed, the link is gone.
    { "PinnedSacnFarEndDown", "", "sacn@5,if=lan1", DAS_OK, "1",
        "sACN to 239.255.0.5:5568 stops: lan1 has no link (cable out?)",
        "nsenter -t $P1 -n ip link set peer down", "nsenter -t $P1 -n ip link set peer up", 25 },
    { "RoutedUnicastFarEndDown", "", "artnet:10.1.0.2@3", DAS_OK, "1",
        "Art-Net to 10.1.0.2:6454 stops: lan1 has no link (cable out?)",
        "nsenter -t $P1 -n ip link set peer down", "nsenter -t $P1 -n ip link set peer up", 25 },
};
using Paths = testing::TestWithParam<PathCase>;
TEST_P(Paths, FramesReachTheChosenNetworkOnly)
{
    const PathCase &c = GetParam();
    onTwoNetworks([&](nettest::Netns(&net)[2]) {
        ASSERT_EQ(std::system(c.setUp), 0);
        std::unique_ptr<nettest::UdpReceiver> in[2]; // in each network, joined to universe 5
        for (int n = 0; n < 2; ++n)
            net[n].inside([&] {
                in[n] = std::make_unique<nettest::UdpReceiver>(c.output[0] == 's' ? 5568 : 6454, 0);
                in[n]->joinGroup(das::sacnMulticastGroup(5), ip(n + 1, 2));
            });
        // The trace in memory: what an open found by itself is there too.
        const int trace = memfd_create("trace", 0);
        setenv("DASHARD_TRACE", ("/proc/self/fd/" + std::to_string(trace)).c_str(), 1);
        setenv("DASHARD_OUTPUT", c.output, 1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(DasCall(DAS_CMD_OPEN, 0, nullptr), c.result);
        std::string said = testing::internal::GetCapturedStderr(), traced(4096, '\0');
        traced.resize(size_t(std::max<ssize_t>(pread(trace, traced.data(), traced.size(), 0), 0)));
        const bool found = std::string(c.said).find("the only interface up") != std::string::npos;
        EXPECT_EQ(traced.find("\n# output \"" + std::string(c.output)) != std::string::npos, found);
        EXPECT_TRUE(said.find(c.said) != std::string::npos || !(found || c.result)) << said;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(dasSend(), c.result == DAS_OK ? DAS_OK : DAS_E_NOT_OPEN);
        std::string why;
        const int priority = das::parseOutputConfig(c.output, why)->priority;
        for (int n = 0; n < 2; ++n) {
            const bool want = std::string(c.reaches).find(char('1' + n)) != std::string::npos;
            const auto packet = in[n]->receive(want ? 2000 : 300);
            EXPECT_EQ(packet.has_value(), want) << "network " << n + 1;
            EXPECT_TRUE(!packet || packet->size() != das::kSacnPacketSize
                || (*packet)[108] == priority); // the setting's priority
        }
        int status = -1;
        const std::string report = check(c.output, "", status);
        EXPECT_EQ(status, c.result == DAS_OK ? 0 : 1) << report;
        EXPECT_NE(report.find(*c.cut ? "frames leave by lan1" : c.said), std::string::npos) << report;
        if (!*c.cut)
            return;
        ASSERT_EQ(std::system(c.cut), 0);
        testing::internal::CaptureStderr();
        int ticks = 0;
        while (ticks < 40 && dasSend() == DAS_OK)
            ++ticks, std::this_thread::sleep_for(100ms);
        said = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(ticks >= 9 && ticks <= c.lastTick) << ticks; // a frame or two may be on its way
        EXPECT_EQ(dasSend(), DAS_E_NOT_OPEN);
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        if (!*c.mend)
            return;
        const std::string out = check(c.output, "", status);
        EXPECT_NE(out.find(", but lan1 has no link (cable out?)\nResult:   the interface button "
                           "would show \"DAS NG\""), std::string::npos) << out;
        EXPECT_EQ(DasCall(DAS_CMD_OPEN, 0, nullptr), DAS_E_UNAVAILABLE);
        ASSERT_EQ(std::system(c.mend), 0);
        int opened = -1;
        for (int i = 0; i < 30 && (opened = DasCall(DAS_CMD_OPEN, 0, nullptr)) != DAS_OK; ++i)
            std::this_thread::sleep_for(100ms);
        EXPECT_EQ(opened, DAS_OK);
    });
}
INSTANTIATE_TEST_SUITE_P(Network, Paths, testing::ValuesIn(kPaths), kRowName);

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
const ScanCase kScans[] = {
    { "ArtNetNodeListedAndMarked", "artnet@20,if=lan1", false, false, 0,
        { "Art-Net: ArtPoll sent to 10.1.255.255 by lan1; 1 node answered within 3 s",
            "  10.1.0.2 \"Fake node\" \"A node the test plays\", outputs port-addresses 19, 20  "
            "<- outputs port-address 20" } },
    { "RivalAtOurPriorityWarned", "sacn@5,if=lan1,priority=150", true, false, 1,
        { "sACN: listened 3 s for universe 5 by lan1; 1 other source sending it",
            "  10.1.0.2 CID 01020304-0506-0708-090a-0b0c0d0e0f10 \"Rival\", priority 150",
            "Warning: \"Rival\" at 10.1.0.2 sends universe 5 at priority 150, not below ours "
            "(150): two consoles fight for the same lights" } },
    { "RivalBelowOurPriorityOnlyListed", "sacn@5,if=lan1,priority=151", true, false, 0,
        { "1 other source sending it", "\"Rival\", priority 150" } },
    { "HeldPortNamedAndTheRestScanned", "sacn@5,if=lan1", true, true, 1,
        { "Warning: sACN not heard: UDP port 5568 is held by ", "1 node answered" } },
};
using Scans = testing::TestWithParam<ScanCase>;
TEST_P(Scans, ListWhatAnswersAndWarnOfRivals)
{
    const ScanCase &c = GetParam();
    onTwoNetworks([&](nettest::Netns(&net)[2]) {
        std::unique_ptr<nettest::UdpReceiver> node, rival, held;
        net[0].inside([&] {
            node = std::make_unique<nettest::UdpReceiver>(6454, 0);
            rival = std::make_unique<nettest::UdpReceiver>(0, ip(1, 2));
        });
        if (c.hold)
            held = std::make_unique<nettest::UdpReceiver>(5568, 0);
        // A node of two output ports, Net 0, Sub-Net 1, Universes 3 and 4: port-addresses 19, 20.
        std::vector<uint8_t> reply(239);
        const std::string head = "Art-Net\0\0\x21\x0a\x01\0\x02\x36\x19\0\0\0\x01"s; // OpPollReply,
        std::copy(head.begin(), head.end(), reply.begin()); // its address, port, version, Net, Sub-Net
        for (const auto &[at, text] : { std::pair { 26, "Fake node" }, { 44, "A node the test plays" } })
            std::copy(text, text + strlen(text), reply.begin() + at); // short and long name
        reply[173] = 2, reply[174] = reply[175] = 0x80, reply[190] = 3, reply[191] = 4; // ports
        std::thread answer([&] {
            sockaddr_in from {};
            socklen_t size = sizeof from;
            uint8_t poll[64] {};
            pollfd pfd { node->fd(), POLLIN, 0 };
            if (::poll(&pfd, 1, 5000) == 1 && recvfrom(node->fd(), poll, 64, 0, (sockaddr *)&from, &size) >= 14
                && poll[9] == 0x20) // OpPoll: answer to port 6454 of the poller
                from.sin_port = htons(6454),
                sendto(node->fd(), reply.data(), reply.size(), 0, (sockaddr *)&from, size);
        });
        // The rival: multicast by its network's interface, ten packets a second while the scan runs.
        const in_addr on { htonl(ip(1, 2)) };
        setsockopt(rival->fd(), IPPROTO_IP, IP_MULTICAST_IF, &on, sizeof on);
        const sockaddr_in group { AF_INET, htons(5568), { htonl(das::sacnMulticastGroup(5)) }, {} };
        const das::SacnSource source { { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16 }, "Rival", 150, 5 };
        std::array<uint8_t, das::kSacnPacketSize> packet;
        std::array<uint8_t, 512> levels {};
        std::atomic<bool> done = false;
        std::thread send([&] {
            for (uint8_t sequence = 0; c.rival && !done && sequence < 100; ++sequence) {
                das::encodeSacnData(packet, source, sequence, 0, levels);
                sendto(rival->fd(), packet.data(), packet.size(), 0, (sockaddr *)&group, sizeof group);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        int status = -1;
        const std::string report = check(c.output, "--scan", status);
        done = true;
        answer.join(), send.join();
        EXPECT_EQ(status, c.status) << report;
        for (const std::string &part : c.said)
            EXPECT_NE(report.find(part), std::string::npos) << part << "\nin:\n" << report;
        // The scan left no port open: 6454 and 5568 are free again (unless the test holds one).
        EXPECT_TRUE(nettest::UdpReceiver(6454, 0).ok() && (c.hold || nettest::UdpReceiver(5568, 0).ok()));
    });
}
INSTANTIATE_TEST_SUITE_P(Network, Scans, testing::ValuesIn(kScans), kRowName);

} // namespace
