// The network outputs: the setting, the way out chosen at open, the end of a stream that goes
// nowhere, brivane-check's look at the wire; on two veth-joined networks without a default route.
#include "das_client.h"
#include "dashard.h"
#include "encode/artnet.h"
#include "encode/sacn.h"
#include "encode/wire_text.h"
#include "net/sacn_cid.h"
#include "net/udp_sender.h"
#include "net_support.h"
#include "output_kind.h"
#include "private_ns.h"
#include "shell.h"
#include "temp_folder.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/mman.h>
#include <thread>

namespace {

using namespace std::literals;
using testsupport::dasOpen, testsupport::dasSend, nettest::UdpReceiver;
const auto kRowName = [](const auto &row) { return std::string(row.param.name); };

// Settings: each row the text and the fields it names as FIELD=VALUE (the others are not its
// point and go unchecked), or "error: " and part of why not; each range's top, and one past it.
struct ParseCase { const char *name, *text, *want; };
const ParseCase kParse[] = {
    { "SacnInterfaceAndPriority", "sacn@5,if=eth1,priority=150",
        "host=239.255.0.5 universe=5 if=eth1 priority=150" },
    { "PriorityPastTheTop", "sacn,priority=201", "error: priority out of range 0-200" },
    { "PriorityIsSacnOnly", "artnet@3,priority=150", "error: \"priority\" is for sacn only" },
    { "ArtNetByAddressNoHost", "artnet,if=10.0.0.5", "host= if=10.0.0.5" },
    { "InterfaceTwice", "sacn@5,if=eth1,if=eth2", "error: option \"if\" given twice" },
    { "UnknownOption", "sacn@5,ttl=4", "error: unknown option \"ttl=4\"" },
    { "TrailingCommaRefused", "sacn@5,", "error: empty option (a comma too many?)" },
    { "SerialPathKeepsItsComma", "usbpro:/dev/a,b@1", "device=/dev/a,b@1" },
    { "OlaUniverseZero", "ola@0", "universe=0" },
    { "OlaTopPastSacnRange", "ola@4294967295", "universe=4294967295" },
    { "OlaPastTheTop", "ola@4294967296", "error: universe out of range 0-4294967295" },
    { "ArtNetPastTheTop", "artnet@32768", "error: universe out of range 0-32767" },
    { "SacnPastTheTop", "sacn@64000", "error: universe out of range 1-63999" },
    { "SacnZeroIsReserved", "sacn@0", "error: universe out of range 1-63999" },
};
using Parse = testing::TestWithParam<ParseCase>;
TEST_P(Parse, GivesItsFieldsOrSaysWhy)
{
    std::string why;
    const std::string want = GetParam().want;
    const auto c = das::parseOutputConfig(GetParam().text, why);
    ASSERT_EQ(!c, want.starts_with("error: ")) << why;
    ASSERT_TRUE(c || why.find(want.substr(7)) != std::string::npos) << why;
    const std::string fields = !c
        ? ""
        : " host=" + c->host + " if=" + c->interface + " universe=" + std::to_string(c->universe)
            + " priority=" + std::to_string(c->priority) + " device=" + c->device + " ";
    std::istringstream named(c ? want : "");
    for (std::string each; named >> each;)
        EXPECT_NE(fields.find(" " + each + " "), std::string::npos) << each << " in" << fields;
}
INSTANTIATE_TEST_SUITE_P(Setting, Parse, testing::ValuesIn(kParse), kRowName);

// The failure rule, tick by tick: `errors` are the sends' errors in order, each for `count`
// ticks (0: it left); `firstIo` the tick of the first DAS_E_IO (-1: none).
struct FailureCase { const char *name; std::vector<std::pair<int, int>> errors; int firstIo; };
const FailureCase kFailures[] = {
    { "NineLostThenOneLeftStaysALoss", { { ENETUNREACH, 9 }, { 0, 1 }, { ENETUNREACH, 9 } }, -1 },
    { "ASecondOfLossEndsTheStream", { { 0, 1 }, { ENETUNREACH, 12 } }, 10 },
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

uint32_t ip(int net, int host) { return 0x0a000000u | uint32_t(net) << 16 | uint32_t(host); }

// The two links below; frames go nowhere until the kernel has seen both ends up (up to 1 s).
const char *const kJoin
    = "set -e; ip link set lo up; for N in 1 2; do eval P=\\$P$N;"
      " ip link add lan$N type veth peer name peer netns $P; ip addr add 10.$N.0.1/16 dev lan$N;"
      " ip link set lan$N up; nsenter -t $P -n sh -ec \"ip link set lo up;"
      " ip addr add 10.$N.0.2/16 dev peer; ip link set peer up\"; done; for i in $(seq 100); do"
      " [ $(ip -br link | grep -c ' UP ') = 2 ] && nsenter -t $P1 -n ip -br link | grep -q ' UP '"
      " && nsenter -t $P2 -n ip -br link | grep -q ' UP ' && break; sleep 0.1; done";

// In a child with a network namespace of its own, `body` gets the two networks: lanN here is
// 10.N.0.1/16, its peer in net[N-1] (process $PN) 10.N.0.2/16. Skips, saying why, where refused.
void onTwoNetworks(const std::function<void(nettest::Netns (&net)[2])> &body)
{
    testsupport::inPrivate(CLONE_NEWNET, "", [&] {
        nettest::Netns net[2];
        setenv("P1", std::to_string(net[0].pid()).c_str(), 1); // for the rows' commands too
        setenv("P2", std::to_string(net[1].pid()).c_str(), 1);
        if (!net[0].ok() || !net[1].ok() || std::system(kJoin))
            testsupport::refuse("no two network namespaces joined by veth pairs here (needs ip)");
        body(net);
    });
}

// Receivers on `port` in both networks, joined to `group` there.
std::array<std::unique_ptr<UdpReceiver>, 2> listen(
    nettest::Netns (&net)[2], uint16_t port, uint32_t group)
{
    std::array<std::unique_ptr<UdpReceiver>, 2> in;
    for (int n = 0; n < 2; ++n)
        net[n].inside([&] {
            in[n] = std::make_unique<UdpReceiver>(port, 0), in[n]->joinGroup(group, ip(n + 1, 2));
        });
    return in;
}
std::string check(const std::string &output, const std::string &arguments, int &status)
{
    return testsupport::run("env -u XDG_CONFIG_DIRS HOME=/nonexistent DASHARD_OUTPUT='" + output
            + "' timeout 20 " BRIVANE_CHECK " " + arguments + " 2>&1",
        &status);
}

// The way out: `setUp` runs first; `reaches`, the networks that hear frames; `said`, in the check's
// report and the stderr of a failed open; `note`, an open's own finding, in its stderr and trace.
// `cut` takes the way after three frames: the stream ends saying `said` in one line, `floorMs` to
// `ceilingMs` after it by the clock; then the check says `after` and fails, and, where `mend` runs,
// a press opens again. With `keeps`, the stream (to this machine) sends on, unsaid, past the cut.
struct PathCase { const char *name, *setUp = "", *output; int result = DAS_OK;
    const char *reaches = "", *said, *note = "", *cut = "", *after = "", *mend = "";
    int floorMs = 0, ceilingMs = 2000; bool keeps = false; };
const char *const kSecondAddress = "ip addr add 2.0.0.5/8 dev lan1 label lan1:1";
const char *const kFarEndDown = "nsenter -t $P1 -n ip link set peer down",
                  *const kFarEndUp = "nsenter -t $P1 -n ip link set peer up";
// Wi-Fi's default route beside the rig's cable: lan2's far end is the gateway.
const char *const kGateway = "ip route add default via 10.2.0.2";
const char *const kMoved = "Art-Net to 10.1.0.2:6454 stops: its way out moved from lan1 to lan2 "
                           "(adapter out or taken down?)",
                  *const kMovedCheck = "frames would leave by lan2 from 10.2.0.1 (as the routing "
                                       "table says), but the console's output opened by lan1 "
                                       "from 10.1.0.1 (adapter out or taken down?)",
                  *const kNoLink = ", but lan1 has no link (cable out?)\nResult:   the interface "
                                   "button would show \"DAS NG\"";
const PathCase kPaths[] = {
    { .name = "SacnByTheNamedInterface", .output = "sacn@5,if=lan1,priority=150", .reaches = "1",
        .said = "frames leave by lan1 from 10.1.0.1 (the interface the setting names)" },
    { .name = "ArtNetToTheInterfaceBroadcast", .output = "artnet@3,if=lan2", .reaches = "2",
        .said = "Art-Net to 10.2.255.255:6454, port-address 3" },
    // The kernel looks for a node off the named interface's networks on its link, never elsewhere.
    { .name = "UnicastToAnotherNetworkNeverLeavesByIt", .output = "artnet:10.2.0.2,if=lan1",
        .said = "by lan1 from 10.1.0.1 (the interface the setting names)\nWarning:  10.2.0.2 is "
                "not on lan1's networks (10.1.0.0/16): frames reach it only if it is on that "
                "cable" },
    { .name = "NoSuchInterfaceListsThoseThereAre", .setUp = kSecondAddress,
        .output = "sacn@5,if=eth9", .result = DAS_E_UNAVAILABLE,
        .said = "no network interface \"eth9\" with an IPv4 address here; "
                "there are: lo 127.0.0.1, lan1 10.1.0.1 and 2.0.0.5, lan2 10.2.0.1" },
    // A second address, labelled as ifupdown does (lan1:1): its device's, on a network of its own.
    { .name = "ArtNetByLabelledAddressOnItsNetwork",
        .setUp = "ip addr add 2.0.0.5/8 dev lan1 label lan1:1 && "
                 "nsenter -t $P1 -n ip addr add 2.0.0.9/8 dev peer",
        .output = "artnet@3,if=2.0.0.5", .reaches = "1",
        .said = "2.255.255.255:6454, port-address 3\nRoute:    frames leave by lan1 from 2.0.0.5" },
    { .name = "ArtNetByNameOfTwoNetworksRefused", .setUp = kSecondAddress,
        .output = "artnet@3,if=lan1", .result = DAS_E_UNAVAILABLE,
        .said = "lan1 is on several IPv4 networks (10.1.0.0/16 and 2.0.0.0/8): name the one to "
                "broadcast on by the address lan1 has there, if=10.1.0.1 or if=2.0.0.5" },
    { .name = "TwoInterfacesNoneNamedListsBoth", .output = "sacn@5", .result = DAS_E_UNAVAILABLE,
        .said = "no route to 239.255.0.5 (Network is unreachable): name the interface to use with "
                "\",if=NAME\"; there are: lo 127.0.0.1, lan1 10.1.0.1, lan2 10.2.0.1" },
    // A second address is no second interface, nor is a bridge without link (docker0, virbr0).
    { .name = "TheOnlyLinkedInterfaceIsUsed",
        .setUp = "ip link set lan2 down; ip link add br0 type bridge;"
                 " ip link add d0 type veth peer name d1; ip link set d0 master br0;"
                 " ip addr add 192.168.5.1/24 dev br0; ip link set br0 up;"
                 " ip addr add 2.0.0.5/8 dev lan1 label lan1:1",
        .output = "sacn@5", .reaches = "1",
        .said = "by lan1 from 10.1.0.1 (no route, and the only interface up with a link)",
        .note = "sACN leaves by lan1 from 10.1.0.1 (no route, and the only interface up with a "
                "link)" },
    { .name = "UnicastWithoutARouteIsRefused", .setUp = "ip link set lan2 down",
        .output = "artnet:10.2.0.2", .result = DAS_E_UNAVAILABLE,
        .said = "no route to 10.2.0.2 (Network is unreachable): name the interface" },
    { .name = "SacnToTheInterfaceBroadcastRefused", .output = "sacn:10.1.255.255",
        .result = DAS_E_UNAVAILABLE,
        .said = "10.1.255.255 is the broadcast address of lan1's network 10.1.0.0/16: sACN goes "
                "to a universe's multicast group (no host) or to one receiver" },
    { .name = "SacnToTheLimitedBroadcastRefused", .output = "sacn:255.255.255.255,if=lan1",
        .result = DAS_E_UNAVAILABLE,
        .said = "255.255.255.255 is the broadcast address of every network" },
    { .name = "PinnedSacnLinkDown", .output = "sacn@5,if=lan1", .reaches = "1",
        .said = "sACN to 239.255.0.5:5568 stops: lan1 is down (taken down?)",
        .cut = "ip link set lan1 down" },
    { .name = "PinnedSacnAdapterRemoved", .output = "sacn@5,if=lan1", .reaches = "1",
        .said = "sACN to 239.255.0.5:5568 stops: lan1 is gone (adapter out?)",
        .cut = "ip link del lan1" },
    // The far end of the cable down: sends still succeed, the link is gone.
    { .name = "PinnedSacnFarEndDown", .output = "sacn@5,if=lan1", .reaches = "1",
        .said = "sACN to 239.255.0.5:5568 stops: lan1 has no link (cable out?)",
        .cut = kFarEndDown, .after = kNoLink, .mend = kFarEndUp, .floorMs = 900,
        .ceilingMs = 3000 },
    // The socket keeps the device by its index, which a rename keeps too.
    { .name = "PinnedRenamedThenFarEndDown", .output = "sacn@5,if=lan1", .reaches = "1",
        .said = "sACN to 239.255.0.5:5568 stops: lanZ has no link (cable out?)",
        .cut = "ip link set lan1 down; ip link set lan1 name lanZ; ip link set lanZ up; "
               "nsenter -t $P1 -n ip link set peer down",
        .floorMs = 900, .ceilingMs = 3000 },
    { .name = "RoutedUnicastFarEndDown", .output = "artnet:10.1.0.2@3", .reaches = "1",
        .said = "Art-Net to 10.1.0.2:6454 stops: lan1 has no link (cable out?)",
        .cut = kFarEndDown, .after = kNoLink, .mend = kFarEndUp, .floorMs = 900,
        .ceilingMs = 3000 },
    // Left to the routing table, the frames would go on by Wi-Fi's default route, to nobody.
    { .name = "RoutedAdapterRemoved", .setUp = kGateway, .output = "artnet:10.1.0.2@3",
        .reaches = "1", .said = kMoved, .cut = "ip link del lan1", .after = kMovedCheck },
    { .name = "RoutedAdapterDown", .setUp = kGateway, .output = "artnet:10.1.0.2@3",
        .reaches = "1", .said = kMoved, .cut = "ip link set lan1 down", .after = kMovedCheck },
    { .name = "RoutedAddressRemoved", .setUp = kGateway, .output = "artnet:10.1.0.2@3",
        .reaches = "1", .said = kMoved, .cut = "ip addr flush dev lan1", .after = kMovedCheck },
    { .name = "RoutedAddressChanged", .output = "artnet:10.1.0.2@3", .reaches = "1",
        .said = "Art-Net to 10.1.0.2:6454 stops: its address on lan1 changed from 10.1.0.1 to "
                "10.1.0.7",
        .cut = "ip addr flush dev lan1; ip addr add 10.1.0.7/16 dev lan1" },
    { .name = "RoutedAdapterRemovedNoGateway", .output = "artnet:10.1.0.2@3", .reaches = "1",
        .said = "Art-Net to 10.1.0.2:6454 stops: there is no way out to it any more (it was "
                "lan1: adapter out or taken down?)",
        .cut = "ip link del lan1" },
    // A visualiser on this machine: its frames never touch a cable.
    { .name = "ThisMachineKeepsSendingCableOut", .output = "artnet:10.1.0.1@3",
        .said = "frames leave by lo from 10.1.0.1 (as the routing table says)", .cut = kFarEndDown,
        .keeps = true },
    { .name = "OneNetworkOfTwoAddresses", .setUp = "ip addr add 10.1.0.7/16 dev lan1",
        .output = "artnet@3,if=lan1", .reaches = "1",
        .said = "Art-Net to 10.1.255.255:6454, port-address 3" },
    { .name = "NoBroadcastOnA32", .setUp = "ip addr add 10.5.0.1/32 dev lan2",
        .output = "artnet@3,if=10.5.0.1", .result = DAS_E_UNAVAILABLE,
        .said = "lan2's network 10.5.0.1/32 has no broadcast address: name the node to send to "
                "(artnet:HOST@U)" },
};
using Paths = testing::TestWithParam<PathCase>;
TEST_P(Paths, FramesReachTheChosenNetworkOnly)
{
    const PathCase &c = GetParam();
    onTwoNetworks([&](nettest::Netns(&net)[2]) {
        const testsupport::TempFolder runtime("paths"); // where a console keeps its way out
        setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
        // Where there is no machine ID, the first sACN open says so once: said here, unread.
        das::sacnCid(das::kMachineIdFiles, getuid());
        ASSERT_EQ(std::system(c.setUp), 0);
        const auto in = listen(net, c.output[0] == 's' ? 5568 : 6454, das::sacnMulticastGroup(5));
        const int trace = memfd_create("trace", 0);
        setenv("DASHARD_TRACE", ("/proc/self/fd/" + std::to_string(trace)).c_str(), 1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(dasOpen(c.output), c.result);
        std::string said = testing::internal::GetCapturedStderr(), traced(4096, '\0');
        traced.resize(size_t(std::max<ssize_t>(pread(trace, traced.data(), traced.size(), 0), 0)));
        const size_t noted = traced.find("\n# output \"" + std::string(c.output));
        EXPECT_EQ(noted != std::string::npos && traced.find(c.note, noted) != std::string::npos,
            *c.note != 0)
            << traced;
        const std::string toSay = c.result ? c.said : c.note; // nothing else on stderr
        EXPECT_TRUE(toSay.empty() ? said.empty() : said.find(toSay) != std::string::npos) << said;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(dasSend(), c.result == DAS_OK ? DAS_OK : DAS_E_NOT_OPEN);
        const int priority = strstr(c.output, "priority=150") ? 150 : 100; // the setting's
        for (int n = 0; n < 2; ++n) {
            const bool want = std::string(c.reaches).find(char('1' + n)) != std::string::npos;
            const auto packet = in[n]->receive(want ? 5000 : 300);
            EXPECT_EQ(packet.has_value(), want) << "network " << n + 1;
            EXPECT_TRUE(
                !packet || packet->size() != das::kSacnPacketSize || (*packet)[108] == priority);
        }
        int status = -1;
        const std::string report = check(c.output, "", status);
        EXPECT_EQ(status, c.result == DAS_OK ? 0 : 1) << report;
        EXPECT_NE(report.find(*c.cut && !c.keeps ? "frames leave by lan1" : c.said),
            std::string::npos)
            << report;
        if (!*c.cut)
            return;
        const auto here = c.keeps ? std::make_unique<UdpReceiver>(6454, ip(1, 1)) : nullptr;
        ASSERT_EQ(std::system(c.cut), 0);
        testing::internal::CaptureStderr();
        int ticks = 0;
        const auto cutAt = std::chrono::steady_clock::now();
        while (ticks < (c.keeps ? 30 : 80) && dasSend() == DAS_OK)
            ++ticks, std::this_thread::sleep_for(100ms);
        // Judged by the clock, not the ticks, which a loaded machine stretches.
        const auto ms = (std::chrono::steady_clock::now() - cutAt) / 1ms;
        said = testing::internal::GetCapturedStderr();
        if (c.keeps) {
            EXPECT_TRUE(ticks == 30 && said.empty() && here->receive(1000)) << ticks << said;
            return;
        }
        EXPECT_TRUE(ms >= c.floorMs && ms <= c.ceilingMs) << ms << " ms";
        EXPECT_EQ(dasSend(), DAS_E_NOT_OPEN);
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        const std::string out = *c.after ? check(c.output, "", status) : c.after;
        EXPECT_TRUE(!*c.after || (status == 1 && out.find(c.after) != std::string::npos)) << out;
        if (!*c.mend)
            return;
        EXPECT_EQ(DasCall(DAS_CMD_OPEN, 0, nullptr), DAS_E_UNAVAILABLE);
        ASSERT_EQ(std::system(c.mend), 0);
        // The kernel marks a link up again from a work queue, which a loaded machine delays.
        int opened = DasCall(DAS_CMD_OPEN, 0, nullptr);
        for (int i = 0; i < 100 && opened != DAS_OK; ++i)
            std::this_thread::sleep_for(100ms), opened = DasCall(DAS_CMD_OPEN, 0, nullptr);
        EXPECT_EQ(opened, DAS_OK);
    });
}
INSTANTIATE_TEST_SUITE_P(Network, Paths, testing::ValuesIn(kPaths), kRowName);

// Machine IDs as a root may hold them, put in place in a mount namespace of this process's own:
// systemd's (where there is one to cover) holding $ETC, and D-Bus's $DBUS (empty: none) on a tmpfs
// over its folder (or /var/lib where there is none); `want`, the one our CID derives from, if any.
struct MachineIds { const char *etc, *dbus, *want; };
const char *const kIdA = "0123456789abcdef0123456789abcdef",
                  *const kIdB = "fedcba9876543210fedcba9876543210";
const MachineIds kBothIds { kIdA, kIdB, kIdA }, kOnlyDbus { "not an ID", kIdB, kIdB },
    kNoMachineId { "", "", nullptr };
const char *const kPlantIds
    = "mount --make-rprivate / && D=/var/lib/dbus && { [ -d $D ] || D=/var/lib; } && mount -t"
      " tmpfs ids $D && mkdir -p /var/lib/dbus && printf %s \"$ETC\" >$D/etc && { [ -e"
      " /etc/machine-id ] && mount --bind $D/etc /etc/machine-id || ! grep -qx '[0-9a-f]*'"
      " $D/etc; } && { [ -z \"$DBUS\" ] || echo $DBUS >/var/lib/dbus/machine-id; }";

// brivane-check --scan: a node in network 1 answers ArtPoll, a reply per group of ports, names with
// a control and a stray byte; `rival` sends universe 5 there at priority 150 (`options`, or every
// tenth packet preview data at `previewAt`; from 10.1.0.1 if `here`; our CID, name if `ourCid`,
// `ourName`), or ArtDmx to port-address 20 (`artDmx`); with `console` the library sends `output`,
// or with `askedBy` a process of user 4321, whom it names to the scan ("": none); `ids` planted,
// `hold` takes UDP 5568 by IPv6 first. The report holds all of `said`, none of `unsaid`.
struct ScanCase { const char *name, *output; bool rival = false, hold = false; int status;
    std::vector<std::string> said; uint8_t options = 0; bool here = false, artDmx = false,
    console = false; std::vector<std::string> unsaid = {}; const MachineIds *ids = nullptr;
    int previewAt = 0; bool ourCid = false, ourName = false; const char *askedBy = nullptr; };
const ScanCase kScans[] = {
    { .name = "ArtNetNodeMergedAndMarked", .output = "artnet@20,if=lan1", .status = 0,
        .said = { "Art-Net: ArtPoll sent to 10.1.255.255 by lan1; 1 node answered within 3 s",
            "  10.1.0.2 \"Fake node\uFFFD\" \"A node\uFFFD[2J the test plays\", outputs "
            "port-addresses 19, 20, 21  <- outputs port-address 20",
            "Art-Net: ArtDmx for port-address 20 heard from 0 senders" } },
    { .name = "RivalAtOurPriorityWarned", .output = "sacn@5,if=lan1,priority=150", .rival = true,
        .status = 1,
        .said = { "sACN: listened 3 s for universe 5 by lan1; 1 other source sending it\n",
            "  10.1.0.2 CID 01020304-0506-0708-090a-0b0c0d0e0f10 \"Rival\", priority 150\n",
            "Warning: \"Rival\" at 10.1.0.2 sends universe 5 at priority 150, not below ours "
            "(150): two consoles fight for the same lights" } },
    { .name = "RivalBelowOurPriorityOnlyListed", .output = "sacn@5,if=lan1,priority=151",
        .rival = true, .status = 0,
        .said = { "1 other source sending it", "\"Rival\", priority 150" } },
    { .name = "HeldPortNamedAndTheRestScanned", .output = "sacn@5,if=lan1", .rival = true,
        .hold = true, .status = 1,
        .said = { "Warning: sACN not heard: UDP port 5568 is held by iface_tests (pid ",
            "1 node answered" } },
    { .name = "PreviewListedNotWarned", .output = "sacn@5,if=lan1", .rival = true, .status = 0,
        .said = { "priority 150, preview data only (not for the lights)" }, .options = 0x80 },
    { .name = "TerminatedListedNotWarned", .output = "sacn@5,if=lan1", .rival = true,
        .status = 0, .said = { "priority 150, stream terminated" }, .options = 0x40 },
    { .name = "AnotherSourceHereWarned", .output = "sacn@5,if=lan1", .rival = true, .status = 1,
        .said = { "  10.1.0.1 CID 01020304-0506-0708-090a-0b0c0d0e0f10 \"Rival\", priority 150 "
                  "(on this machine)\n",
            "Warning: \"Rival\" at 10.1.0.1" },
        .here = true, .ids = &kNoMachineId },
    // Without a machine ID, this machine's console is known by its name from here, not from afar.
    { .name = "ConsoleKnownByNameWithoutMachineId", .output = "sacn@5,if=lan1", .rival = true,
        .status = 1, .said = { "1 other source sending it, and this machine's console",
            "\", priority 100: this machine's console (known by name)\n",
            "\", priority 150\nWarning: \"Brivane on " },
        .console = true, .ids = &kNoMachineId, .ourName = true },
    // Live data competes, preview data beside it does not.
    { .name = "PreviewAboveLiveBelowOnlyListed", .output = "sacn@5,if=lan1,priority=151",
        .rival = true, .status = 0, .said = { "\"Rival\", priority 150\n" },
        .unsaid = { "priority 200" }, .previewAt = 200 },
    // Our CID (systemd's ID first) from afar, beside our console, below our priority: a clone.
    { .name = "CloneWarned", .output = "sacn@5,if=lan1,priority=151", .rival = true, .status = 1,
        .said = { "1 other source sending it, and this machine's console",
            "\"Brivane on ", "\", priority 151: this machine's console\n",
            "\"Rival\", priority 150: uses this machine's CID (a cloned system?)\n",
            "Warning: \"Rival\" at 10.1.0.2 uses this machine's CID (a cloned system?)" },
        .console = true, .unsaid = { "fight" }, .ids = &kBothIds, .ourCid = true },
    { .name = "ArtNetRivalWarned", .output = "artnet@20,if=lan1", .rival = true, .status = 1,
        .said = { "Art-Net: ArtDmx for port-address 20 heard from 1 sender\n  10.1.0.2\n",
            "Warning: 10.1.0.2 sends Art-Net port-address 20 too: two consoles fight for the "
            "same lights" },
        .artDmx = true },
    // The scan in a second process knows the console's CID without being told it.
    { .name = "ConsoleHereListedNotWarned", .output = "sacn@5,if=lan1", .status = 0,
        .said = { "0 other sources sending it, and this machine's console", "  10.1.0.1 CID ",
            "\"Brivane on ", "\", priority 100: this machine's console\n" },
        .console = true, .ids = &kOnlyDbus },
    { .name = "ArtNetConsoleHereNotWarned", .output = "artnet@20,if=lan1", .status = 0,
        .said = { "heard from 1 sender\n  10.1.0.1, on this machine (this console, or a "
                  "program beside it)\n" },
        .console = true },
    // Under sudo or pkexec, the console of the user who asked.
    { .name = "ConsoleOfTheSudoUserNotWarned", .output = "sacn@5,if=lan1", .status = 0,
        .said = { "\", priority 100: this machine's console\n" }, .ids = &kOnlyDbus,
        .askedBy = "SUDO_UID" },
    { .name = "ConsoleOfThePkexecUserNotWarned", .output = "sacn@5,if=lan1", .status = 0,
        .said = { ": this machine's console\n" }, .ids = &kOnlyDbus, .askedBy = "PKEXEC_UID" },
    { .name = "AnotherUsersConsoleWarned", .output = "sacn@5,if=lan1", .status = 1,
        .said = { "\", priority 100 (on this machine)\n", "Warning: \"Brivane on " },
        .unsaid = { "this machine's console" }, .ids = &kOnlyDbus, .askedBy = "" },
};
using Scans = testing::TestWithParam<ScanCase>;
TEST_P(Scans, ListWhatAnswersAndWarnOfRivals)
{
    const ScanCase &c = GetParam();
    onTwoNetworks([&](nettest::Netns(&net)[2]) {
        std::string why; // and what the library derives there
        setenv("ETC", c.ids ? c.ids->etc : "", 1), setenv("DBUS", c.ids ? c.ids->dbus : "", 1);
        if (c.ids && (unshare(CLONE_NEWNS) || std::system(kPlantIds)))
            testsupport::refuse("no mount namespace or no /etc/machine-id to plant machine IDs in");
        const auto ours = das::machineSacnCid(das::kMachineIdFiles, getuid(), why);
        ASSERT_TRUE(
            !c.ids || (c.ids->want ? ours == das::sacnSourceCid(c.ids->want, getuid()) : !ours));
        const pid_t other = c.askedBy ? fork() : -1; // user 4321's console, for 4 s
        if (other == 0 && setuid(4321) == 0 && dasOpen(c.output) == DAS_OK)
            for (int i = 0; i < 40; ++i)
                dasSend(), std::this_thread::sleep_for(100ms);
        if (other == 0)
            _exit(0);
        unsetenv("SUDO_UID"), unsetenv("PKEXEC_UID"); // who ran the scan, but for `askedBy`
        (void)(c.askedBy && *c.askedBy && setenv(c.askedBy, "4321", 1));
        std::unique_ptr<UdpReceiver> node, rival = std::make_unique<UdpReceiver>(0, ip(1, 1));
        net[0].inside([&] {
            node = std::make_unique<UdpReceiver>(6454, 0),
            c.here || (rival = std::make_unique<UdpReceiver>(0, ip(1, 2)));
        });
        const int held6 = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0); // [::] holds IPv4 too
        const sockaddr_in6 any6 { AF_INET6, htons(5568), 0, in6addr_any, 0 };
        ASSERT_TRUE(!c.hold || bind(held6, (sockaddr *)&any6, sizeof any6) == 0);
        // Output ports of Net 0, Sub-Net 1: Universes 3, 4 (port-addresses 19, 20) in BindIndex 1,
        // 5 in 2.
        std::vector<uint8_t> reply(239), second;
        const std::string head = "Art-Net\0\0\x21\x0a\x01\0\x02\x36\x19\0\0\0\x01"s; // OpPollReply,
        std::copy(
            head.begin(), head.end(), reply.begin()); // its address, port, version, Net, Sub-Net
        for (const auto &[at, text] :
            { std::pair { 26, "Fake node\xff" }, { 44, "A node\x1b[2J the test plays" } })
            std::copy(text, text + strlen(text), reply.begin() + at); // short and long name
        reply[173] = 2, reply[174] = reply[175] = 0x80, reply[190] = 3, reply[191] = 4,
        reply[211] = 1;
        second = reply, second[173] = 1, second[190] = 5, second[211] = 2;
        std::thread answer([&] {
            sockaddr_in from {};
            socklen_t size = sizeof from;
            uint8_t poll[64] {};
            pollfd pfd { node->fd(), POLLIN, 0 };
            if (::poll(&pfd, 1, 5000) == 1
                && recvfrom(node->fd(), poll, 64, 0, (sockaddr *)&from, &size) >= 14
                && poll[9] == 0x20)
                for (const auto *each : { &second, &reply }) { // to port 6454 of the poller
                    from.sin_port = htons(6454);
                    sendto(node->fd(), each->data(), each->size(), 0, (sockaddr *)&from, size);
                }
        });
        // The rival and the console send ten packets a second while the scan runs.
        const in_addr on { htonl(c.here ? ip(1, 1) : ip(1, 2)) };
        setsockopt(rival->fd(), IPPROTO_IP, IP_MULTICAST_IF, &on, sizeof on);
        const sockaddr_in group { AF_INET, htons(5568), { htonl(das::sacnMulticastGroup(5)) }, {} },
            us { AF_INET, htons(6454), { htonl(ip(1, 1)) }, {} };
        const std::string name = c.ourName ? das::sacnSourceName() : "Rival";
        das::SacnSource source { c.ourCid
                ? ours.value()
                : das::Cid { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16 },
            name, 150, 5 };
        std::array<uint8_t, das::kSacnPacketSize> packet;
        std::array<uint8_t, das::kArtDmxSize> artDmx;
        std::array<uint8_t, 512> levels {};
        std::atomic<bool> done = false;
        ASSERT_TRUE(!c.console || dasOpen(c.output) == DAS_OK);
        std::thread send([&] {
            for (uint8_t sequence = 0; (c.rival || c.console) && !done && sequence < 100;
                 ++sequence) {
                const bool preview = c.previewAt && sequence % 10 == 0;
                source.priority = uint8_t(preview ? c.previewAt : 150);
                das::encodeSacnData(packet, source, sequence, preview ? 0x80 : c.options, levels);
                das::encodeArtDmx(artDmx, 20, sequence, levels);
                (void)(c.console && dasSend());
                (void)(!c.rival    ? 0
                        : c.artDmx ? sendto(rival->fd(), artDmx.data(), artDmx.size(), 0,
                              (sockaddr *)&us, sizeof us)
                                   : sendto(rival->fd(), packet.data(), packet.size(), 0,
                                       (sockaddr *)&group, sizeof group));
                std::this_thread::sleep_for(100ms);
            }
        });
        int status = -1;
        const std::string report = check(c.output, "--scan", status);
        done = true;
        answer.join(), send.join(), close(held6), other > 0 && waitpid(other, nullptr, 0);
        EXPECT_EQ(status, c.status) << report;
        for (const std::string &part : c.said)
            EXPECT_NE(report.find(part), std::string::npos) << part << "\nin:\n" << report;
        for (const std::string &part : c.unsaid)
            EXPECT_EQ(report.find(part), std::string::npos) << part << "\nin:\n" << report;
        // The scan left no port open: 6454 and 5568 are free again (unless the test holds one).
        EXPECT_TRUE(
            nettest::UdpReceiver(6454, 0).ok() && (c.hold || nettest::UdpReceiver(5568, 0).ok()));
    });
}
INSTANTIATE_TEST_SUITE_P(Network, Scans, testing::ValuesIn(kScans), kRowName);

// A name-based UUID (the standard example); where there is no machine ID, one random CID for the
// process, said once. Which machine ID counts, and for which user: the rows below and the scan's.
TEST(SacnSource, KeepsOneCidForLife)
{
    const das::Cid dns { 0x6b, 0xa7, 0xb8, 0x10, 0x9d, 0xad, 0x11, 0xd1, 0x80, 0xb4, 0, 0xc0, 0x4f,
        0xd4, 0x30, 0xc8 };
    EXPECT_EQ(das::makeUuidV5(dns, "python.org"),
        (das::Cid { 0x88, 0x63, 0x13, 0xe1, 0x3b, 0x8a, 0x53, 0x72, 0x9b, 0x90, 0x0c, 0x9a, 0xee,
            0x19, 0x9e, 0x5d }));
    const char *const none[] = { "/nonexistent" };
    testing::internal::CaptureStderr();
    const das::Cid random = das::sacnCid(none, 1000);
    EXPECT_TRUE(das::sacnCid(none, 1000) == random && (random[6] & 0xf0) == 0x40);
    const std::string said = testing::internal::GetCapturedStderr(); // once, saying why
    EXPECT_TRUE(said.starts_with("dashard: sACN: /nonexistent cannot be read (No such file")
        && said.find('\n') == said.size() - 1)
        << said;
}

// "Brivane on HOSTNAME" cut to its field: never inside a character.
TEST(SacnSource, NameCutBetweenCharacters) { EXPECT_EQ(das::cutUtf8("ab\xc3\xa9", 3), "ab"); }

// A name from the network at its field's full length, 64 bytes, ending in one character: each that
// acts on a report's lines replaced, each well-formed neighbour of theirs kept.
TEST(WireText, ShownWithoutWhatActsOnALine)
{
    const std::pair<const char *, bool> kLast[] = { { "\x1b", 1 }, { "\x1f", 1 }, { " ", 0 }, // C0
        { "~", 0 }, { "\x7f", 1 }, { "\xc2\x80", 1 }, { "\xc2\x9f", 1 }, { "\xc2\xa0", 0 }, // C1
        { "\u2027", 0 }, { "\u2028", 1 }, { "\u2029", 1 }, // line and paragraph separators
        { "\u202a", 1 }, { "\u202e", 1 }, { "\u202f", 0 }, // bidirectional embeddings, overrides
        { "\u2065", 0 }, { "\u2066", 1 }, { "\u2069", 1 }, { "\u206a", 0 }, // and isolates
        { "\xff", 1 } }; // no UTF-8
    for (const auto &[last, replaced] : kLast) {
        const std::string head(64 - strlen(last), 'n');
        EXPECT_EQ(das::printableText(head + last), head + (replaced ? "\uFFFD" : last));
    }
}

// The stream's Universe Discovery, field by field: once at its first frame, not again within the
// next second, by the stream's way out only; under this machine's host name, or under `host` in a
// UTS namespace of its own.
void expectDiscovery(const std::string &host = "")
{
    onTwoNetworks([&](nettest::Netns(&net)[2]) {
        if (!host.empty() && (unshare(CLONE_NEWUTS) || sethostname(host.data(), host.size())))
            testsupport::refuse("no private UTS namespace here: "s + strerror(errno));
        const auto in = listen(net, 5568, das::kSacnDiscoveryGroup);
        ASSERT_EQ(dasOpen("sacn@5,if=lan1,priority=150"), DAS_OK);
        for (int i = 0; i < 10; ++i, std::this_thread::sleep_for(100ms))
            EXPECT_EQ(dasSend(), DAS_OK);
        DasCall(DAS_CMD_CLOSE, 0, nullptr);
        const auto packet = in[0]->receive(1000);
        ASSERT_TRUE(packet);
        EXPECT_FALSE(in[0]->receive(300)) << "a second discovery within a second";
        EXPECT_FALSE(in[1]->receive(300)) << "discovery on the other network";
        std::string why; // the CID derived here, or where there is no machine ID, the one sent
        const das::Cid cid = das::machineSacnCid(das::kMachineIdFiles, getuid(), why)
                                 .value_or(*(const das::Cid *)&(*packet)[22]);
        char named[256] = {};
        gethostname(named, sizeof named - 1);
        const std::string name(das::cutUtf8("Brivane on "s + named, 63)); // its field, NUL-ended
        EXPECT_EQ(std::string(packet->begin(), packet->end()),
            "\0\x10\0\0ASC-E1.17\0\0\0\x70\x6a\0\0\0\x08"s // sizes, id, length, extended root
                                                           // vector
                + std::string(cid.begin(), cid.end())
                + "\x70\x54\0\0\0\x02"s // length, discovery framing
                + name + std::string(68 - name.size(), '\0') // NUL-padded to 64, 4 reserved bytes
                + "\x70\x0a\0\0\0\x01\0\0\0\x05"s); // length, the list vector, page 0 of 0,
                                                    // universe 5
    });
}
TEST(SacnSource, AnnouncesItsUniverse) { expectDiscovery(); }
TEST(SacnSource, AnnouncesItsUniverseUnderTheLongestHostName)
{
    expectDiscovery("lighting-desk-" + std::string(50, 'x'));
}

} // namespace
