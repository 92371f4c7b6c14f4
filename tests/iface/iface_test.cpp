// libdashard as its users meet it, then its outputs against UDP receivers and pseudo-terminals.
#include "das_client.h"
#include "encode/wire_text.h"
#include "net/sacn_cid.h"
#include "net_support.h"
#include "output_kind.h"
#include "private_ns.h"
#include "serial/opendmx_output.h"
#include "serial/usb_serial.h"
#include "shell.h"
#include "temp_folder.h"

#include <algorithm>
#include <asm/termbits.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <sstream>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>

namespace {

namespace fs = std::filesystem;
using namespace std::literals;
using testsupport::dasOpen, testsupport::dasSend, testsupport::inPrivate, testsupport::kLevels;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

// A trace file's call results and frame numbers (first two levels, "N N "); other lines fail.
std::pair<std::vector<int>, std::string> traced(const std::string &path)
{
    std::pair<std::vector<int>, std::string> calls;
    std::ifstream in(path);
    const std::regex shape(R"(\d+\.\d{6} -?\d+ -?\d+ (-?\d+)(?: ([0-9a-f]{4})[0-9a-f]{1020})?)");
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, shape)) << path << ": " << line.substr(0, 80);
        calls.first.push_back(std::stoi(m[1]));
        calls.second += m[2].matched ? std::to_string(std::stoi(m[2], 0, 16)) + " " : "";
    }
    return calls;
}

// A shell command run in a folder of its own (HOME=h, XDG_CONFIG_DIRS=s1:s2, TO an Art-Net
// receiver of ours) once `files` are written there ("<dir>" a folder, "<0000>TEXT" unreadable). Its
// output, the folder's name cut out, holds `said`; "skipped: WHY" and exit 77 skip it.
struct Row
{
    std::string name, command, said = "";
    std::vector<int> results = {}; // a probe's DasCall results, after at most one line `said`
    int status = 0; // else the command's exit status
    std::vector<std::pair<std::string, std::string>> files = {};
    bool everyCall = false; // its trace (calls.log) holds every call, with the results above
    std::string frames = ""; // the frames calls.log.1, then calls.log, hold
    std::optional<int> datagrams = {}; // how many reach the receiver, where counted
};
void PrintTo(const Row &row, std::ostream *out) { *out << row.name; }

const std::string kProbe = DAS_TRACE_PROBE, kOpen = kProbe + " open", kCheck = BRIVANE_CHECK,
                  kUser = "h/.config/brivane/output", kSystem = "s1/brivane/output",
                  kBad = "artnet:1.2.3", kNone = "cannot open output \"none\"",
                  kNoCaps = "setpriv --inh-caps=-all --bounding-set=-all ";
// The user's file is bad as `why` says: the open fails, never trying the system's good one.
Row broken(std::string name, std::string text, std::string why)
{
    return { .name = name, .command = (geteuid() == 0 ? kNoCaps : "") + kOpen, .said = kUser + why,
        .results = { DAS_E_CONFIG }, .files = { { kUser, text }, { kSystem, "none" } } };
}
// The small probe, its trace turning over at 16 KiB, on a 64 KiB tmpfs of its own, which `setUp`
// and `steps` make fail; `as` may run it with fewer rights. Every send's result is DAS_OK.
Row onTmpfs(std::string name, std::string setUp, std::string steps, int sends, std::string said,
    std::string frames, std::string as = "")
{
    return { .name = name,
        .command = "unshare -m true 2>/dev/null || { echo 'skipped: no private mount namespace "
                   "(unshare -m refused)'; exit 77; }; mkdir fs && timeout 60 unshare -m sh -c "
                   "\"mount -t tmpfs -o size=64k das fs && { " + setUp + "; } 2>/dev/null && "
                   "DASHARD_TRACE=fs/calls.log DASHARD_OUTPUT=artnet:127.0.0.1:9 " + as
            + DAS_SMALL_TRACE_PROBE " open " + steps + " 2>&1; cp fs/calls.log* .\"",
        .said = said.empty() ? "" : "dashard: " + said + "\n",
        .results = std::vector<int>(1 + sends, DAS_OK), .frames = frames };
}

const Row kRows[] = {
    { .name = "EachWrongCallThenASendAfterClose",
        .command = "DASHARD_OUTPUT=$TO DASHARD_TRACE=calls.log " + kProbe
            + " send command7 open command0 command5:512 open:1 close:-1 start:512 send:511"
              " send:513 send:nobuffer send close close send",
        .results = { DAS_E_NOT_OPEN, DAS_E_COMMAND, DAS_OK, DAS_E_COMMAND, DAS_E_COMMAND,
            DAS_E_ARGUMENT, DAS_E_ARGUMENT, DAS_E_ARGUMENT, DAS_E_ARGUMENT, DAS_E_ARGUMENT,
            DAS_E_ARGUMENT, DAS_OK, DAS_OK, DAS_OK, DAS_E_NOT_OPEN },
        .everyCall = true, .frames = "1 1 1 ", .datagrams = 1 },
    { .name = "NoneOpensNothingSayingSoOnce", .command = "DASHARD_OUTPUT=none " + kOpen + " send",
        .said = "dashard: " + kNone + ": output disabled\n",
        .results = { DAS_E_UNAVAILABLE, DAS_E_NOT_OPEN } },
    { .name = "BadVariableWinsOverAGoodFileNamingTheForms",
        .command = "DASHARD_OUTPUT=dmx4all:/dev/ttyACM0 " + kOpen,
        .said = ": unknown output kind \"dmx4all\" (accepted forms: ", .results = { DAS_E_CONFIG },
        .files = { { kUser, "none" } } },
    { .name = "CheckShowsTheDefault", .command = kCheck,
        .said = "Output:   Art-Net to 127.0.0.1:6454, port-address 0\n" },
    { .name = "EmptyVariableIsUnset", .command = "DASHARD_OUTPUT= " + kOpen,
        .said = kNone + " set in " + kUser + ":1", .results = { DAS_E_UNAVAILABLE },
        .files = { { kUser, "none" }, { kSystem, kBad } } },
    { .name = "ConfigHomeOverHomeBlankAndCommentLinesSkipped",
        .command = "XDG_CONFIG_HOME=$PWD/c " + kOpen, .said = kNone + " set in c/brivane/output:4",
        .results = { DAS_E_UNAVAILABLE },
        .files = { { "c/brivane/output", "# sacn\n\n \t\n none \r\n" }, { kUser, kBad } } },
    { .name = "SystemFoldersInOrderRelativeSkipped",
        .command = "XDG_CONFIG_DIRS=rel:$PWD/s2/:$PWD/s1 " + kOpen,
        .said = kNone + " set in s2/brivane/output:1", .results = { DAS_E_UNAVAILABLE },
        .files = { { kSystem, kBad }, { "s2/brivane/output", "none" } } },
    broken("BadLineNamedByNumber", "#\n" + kBad, ":2: bad output setting \"artnet:1.2.3\": host"),
    broken("FileIsAFolder", "<dir>", ": cannot read the output setting: Is a directory"),
    broken("FileUnreadable", "<0000>none", ": cannot read the output setting: Permission denied"),
    broken("LineTooLong", std::string(100000, 'x'), ":1: line longer than 4096 bytes"),
    broken("NulByte", "no\0ne"s, ":1: NUL byte"),
    broken("NotUtf8", "\xff", ":1: the setting is not valid UTF-8"),
    { .name = "CheckNamesTargetSendsNothing", .command = "DASHARD_OUTPUT=$TO@32767 " + kCheck,
        .said = "port-address 32767\n", .datagrams = 0 },
    { .name = "CheckSaysANodeWithoutItsDeviceIsNotThere",
        .command = "mknod ghost c 188 250 2>/dev/null || { echo 'skipped: mknod refused'; exit 77; "
                   "}; DASHARD_OUTPUT=usbpro:$PWD/ghost " + kCheck,
        .said = "\"DAS NG\": ghost: no device behind this node", .status = 1 },
    { .name = "CheckUsage", .command = kCheck + " --frobnicate", .said = "--scan", .status = 2 },
    { .name = "ExportsDasCallAloneAndNoOla",
        .command = "l=" DASHARD_PATH "; test \"$(nm -D --defined-only --format=just-symbols $l "
                   "| tr '\\n' ' ')\" = 'DASHARD_1 DasCall@@DASHARD_1 ' && ldd $l | grep -q "
                   "libstdc++ && ! ldd $l | grep -E 'libola|libprotobuf'" },
    // Then a new reader gets lines: the last of the twenty ticks after it opens (frame 25).
    { .name = "FifoReaderGoneIsNoSigpipeAndANewOneReads",
        .command = "mkfifo t && exec 3<>t || exit; { timeout 9 head -c 2000 <&3 >/dev/null; "
                   "exec 3<&-; touch gone; } & exec 3<&-; DASHARD_OUTPUT=artnet:127.0.0.1:9 "
                   "DASHARD_TRACE=t " + kOpen
            + " frames:3 'sh:until [ -e gone ]; do sleep 0.05; done' frames:3 'sh:{ timeout 20 cat "
              "t >got & echo $! >r; }' ticks:20 'sh:kill $(cat r); grep -q \" 0019\" got || "
              "echo unread'",
        .said = "dashard: cannot write trace file \"t\": Broken pipe\n",
        .results = std::vector<int>(27, DAS_OK) },
    onTmpfs("TraceTurnsOverKeepingOneOlder", "echo older >fs/calls.log.1", "frames:100", 100, "",
        "75 76 77 78 79 80 81 82 83 84 85 86 87 88 89 90 91 92 93 94 95 96 97 98 99 "),
    onTmpfs("TraceOnAFullDisk", "head -c 1M /dev/zero >fs/filler; truncate -s -4K fs/filler",
        "frames:20 sh:'rm fs/filler' frames:5", 25, "cannot write trace file \"fs/calls.log\": No "
        "space left on device", "0 1 2 20 21 22 23 24 "),
    onTmpfs("TraceRemovedIsBegunAnew", "true",
        "frames:20 sh:'rm fs/calls.log; touch fs/calls.log; sleep 1.1' frames:5", 25, "",
        "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 20 21 22 23 24 "),
    onTmpfs("TraceReadOnlyAtFirst", "mount -o remount,ro fs",
        "frames:20 sh:'mount -o remount,rw fs; sleep 1.1' frames:5", 25,
        "cannot open trace file \"fs/calls.log\": Read-only file system", "20 21 22 23 24 "),
    onTmpfs("TraceFolderRefusesTheRename", "touch fs/calls.log && chmod 555 fs", "frames:100", 100,
        "cannot rename trace file \"fs/calls.log\" to \"fs/calls.log.1\": Permission denied; it "
        "begins again from its start each time it is full", "90 91 92 93 94 95 96 97 98 99 ",
        kNoCaps),
};

using DasCallRows = testing::TestWithParam<Row>;
INSTANTIATE_TEST_SUITE_P(DasCall, DasCallRows, testing::ValuesIn(kRows),
    [](const testing::TestParamInfo<Row> &row) { return row.param.name; });

TEST_P(DasCallRows, Row)
{
    const Row &c = GetParam();
    nettest::UdpReceiver receiver;
    const testsupport::TempFolder folder("das-call");
    const std::string at = folder.path();
    for (const auto &[file, text] : c.files) {
        const std::string path = at + "/" + file;
        fs::create_directories(text == "<dir>" ? fs::path(path) : fs::path(path).parent_path());
        std::ofstream(path) << text.substr(text.starts_with("<0000>") ? 6 : 0);
        chmod(path.c_str(), text.starts_with("<0000>") ? 0 : 0755);
    }
    int status = -1;
    std::string said = testsupport::run("cd " + at + " && timeout 60 env -u DASHARD_OUTPUT -u "
            "DASHARD_TRACE -u XDG_CONFIG_HOME HOME=$PWD/h XDG_CONFIG_DIRS=$PWD/s1:$PWD/s2 "
            "TO=artnet:127.0.0.1:" + std::to_string(receiver.port()) + " sh -c '"
            + std::regex_replace(c.command, std::regex("'"), "'\\''") + "' 2>&1", &status);
    for (size_t i; (i = said.find(at + "/")) != std::string::npos;)
        said.erase(i, at.size() + 1);
    if (status == 77 && said.starts_with("skipped: "))
        GTEST_SKIP() << said.substr(9, said.find('\n') - 9);
    EXPECT_NE(said.find(c.said), std::string::npos) << said;
    std::istringstream last(said.substr(said.rfind('\n', said.size() - 2) + 1));
    const std::vector<int> results(std::istream_iterator<int>(last), {});
    if (c.results.empty())
        EXPECT_EQ(status, c.status) << said;
    else // one line of results, after the one line `said` when there is one
        EXPECT_TRUE(results == c.results && std::ranges::count(said, '\n') == 1 + !c.said.empty())
            << said;
    const std::string latest = at + "/calls.log", older = latest + ".1";
    const auto log = traced(latest), old = traced(older);
    EXPECT_EQ(old.second + log.second, c.frames);
    EXPECT_TRUE(!c.everyCall || log.first == results) << "a call lost or wrong";
    // Each trace file filled as far as a line fits and no further.
    EXPECT_LE(fs::exists(latest) ? fs::file_size(latest) : 0, DAS_SMALL_TRACE_MAX);
    EXPECT_GT(fs::exists(older) ? fs::file_size(older) : DAS_SMALL_TRACE_MAX,
        DAS_SMALL_TRACE_MAX - 1088);
    int datagrams = 0;
    while (c.datagrams && receiver.receive(300))
        ++datagrams;
    EXPECT_TRUE(!c.datagrams || datagrams == *c.datagrams) << datagrams << " datagrams";
}

Bytes operator""_b(const char *text, size_t size) { return Bytes(text, text + size); }
Bytes operator+(Bytes a, const Bytes &b) { return a.insert(a.end(), b.begin(), b.end()), a; }
const Bytes kSlots = "\0"_b + kLevels;
bool contains(const Bytes &in, const Bytes &part) { return !std::ranges::search(in, part).empty(); }

// Art-Net: every field, the sequence 1 to 255 then 1. sACN: every header byte, the sequence on
// across its wrap, 3 goodbyes. Each from `artnet` and `sacn` to its receiver.
void expectArtNetAndSacn(const std::string &artnet, nettest::UdpReceiver &artnetTo,
    const std::string &sacn, nettest::UdpReceiver &sacnTo)
{
    ASSERT_EQ(dasOpen(artnet), DAS_OK);
    Bytes want = "Art-Net\0\0\x50\0\x0e\0\0\x34\x12\2\0"_b + kLevels;
    for (int i = 0; i < 300; ++i) { // the same levels: an unchanged frame goes out all the same
        ASSERT_EQ(dasSend(), DAS_OK);
        want[12] = uint8_t(i % 255 + 1);
        ASSERT_EQ(artnetTo.receive(), want) << "frame " << i;
    }
    Bytes cid(16);
    std::string host;
    std::ifstream("/proc/sys/kernel/hostname") >> host;
    const std::string shown(das::cutUtf8("Brivane on " + host, 63)); // its field, NUL-ended
    const Bytes name(shown.begin(), shown.end());
    ASSERT_EQ(dasOpen(sacn), DAS_OK);
    int first = 0;
    for (int i = 0; i < 303; ++i) {
        if (i <= 300)
            i < 300 ? dasSend() : DasCall(DAS_CMD_CLOSE, 0, nullptr);
        const auto packet = sacnTo.receive();
        ASSERT_TRUE(packet && packet->size() == 638) << "packet " << i;
        if (i == 0) { // derived from the machine ID, or where there is none, random (version 4)
            cid.assign(packet->begin() + 22, packet->begin() + 38);
            std::string why;
            const auto ours = das::machineSacnCid(das::kMachineIdFiles, getuid(), why);
            EXPECT_TRUE(ours ? cid == Bytes(ours->begin(), ours->end())
                             : (cid[6] & 0xf0) == 0x40 && (cid[8] & 0xc0) == 0x80);
            first = (*packet)[111];
        }
        want = "\0\x10\0\0ASC-E1.17\0\0\0\x72\x6e\0\0\0\4"_b + cid + "\x72\x58\0\0\0\2"_b + name;
        want.resize(108); // then priority 100, sequence, options (0x40: terminated)
        want = want + Bytes { 100, 0, 0, uint8_t(first + i), uint8_t(i < 300 ? 0 : 0x40) }
            + "\xf9\xff\x72\x0b\2\xa1\0\0\0\1\2\1\0"_b;
        ASSERT_EQ(*packet, want + kLevels) << "packet " << i;
    }
    EXPECT_FALSE(sacnTo.receive(300)) << "a packet after the third goodbye";
    ASSERT_EQ(dasOpen(sacn), DAS_OK); // counting on: a receiver may have missed the goodbyes
    const auto again = (dasSend(), DasCall(DAS_CMD_CLOSE, 0, nullptr), sacnTo.receive());
    EXPECT_TRUE(again && (*again)[111] == uint8_t(first + 303)) << "sequence after a reopen";
}

// Unicast needs no privilege: Art-Net to a free port, sACN (its port fixed) to a 127/8 address.
void expectByUnicast()
{
    nettest::UdpReceiver artnet;
    const uint32_t sacnAddress = 0x7f000000 | (getpid() & 0xffff) << 8 | 0x2a;
    nettest::UdpReceiver sacn(5568, sacnAddress);
    const in_addr to { htonl(sacnAddress) };
    if (!sacn.ok())
        GTEST_SKIP() << "sACN's port 5568 is taken on " << inet_ntoa(to);
    expectArtNetAndSacn("artnet:127.0.0.1:" + std::to_string(artnet.port()) + "@4660", artnet,
        "sacn:"s + inet_ntoa(to) + "@63999", sacn);
}
TEST(Outputs, ArtNetAndSacnByUnicast) { expectByUnicast(); }
// The same under the longest host name Linux allows, in a UTS namespace of its own.
TEST(Outputs, ArtNetAndSacnByUnicastUnderTheLongestHostName)
{
    inPrivate(CLONE_NEWUTS, "hostname lighting-desk-" + std::string(50, 'x'), expectByUnicast);
}

// Broadcast, and multicast to universe 63999's group.
TEST(Outputs, ArtNetAndSacnInANetworkOfTheirOwn)
{
    inPrivate(CLONE_NEWNET, "ip link set lo up && ip route add 239.0.0.0/8 dev lo", [] {
        nettest::UdpReceiver artnet(6454, INADDR_ANY), sacn(5568, INADDR_ANY);
        ASSERT_TRUE(sacn.joinGroup(0xeffff9ff)); // 239.255.249.255
        expectArtNetAndSacn("artnet:127.255.255.255@4660", artnet, "sacn@63999", sacn);
    });
}

const Bytes kAskSerial = "\x7E\x0A\0\0\xE7"_b, kAskParameters = "\x7E\x03\2\0\0\0\xE7"_b;

// A pseudo-terminal playing a serial device (S silent, E echo, W widget), expecting `want`.
struct Device
{
    char plays;
    Bytes want, got;
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    std::string path = grantpt(master) || unlockpt(master) ? "" : ptsname(master);
    int slave = open(path.c_str(), O_RDWR | O_NOCTTY); // held open here too
    ~Device() { close(master), close(slave); }
};

// Plays `devices` until `done`, for up to 5 s, keeping what each gets. A widget answers the serial
// and parameter requests behind junk: bytes before a start, a 601-byte claim, an unended message.
void serve(std::deque<Device> &devices, const std::function<bool()> &done)
{
    const Bytes junk = "\1\xE7\0\x0A\x7E\5\x59\2\0\x7E\x0A\4\0\1\2\3\4\0"_b;
    for (int round = 0; round < 2500 && !done(); ++round, std::this_thread::sleep_for(2ms))
        for (Device &d : devices) {
            uint8_t chunk[1024];
            pollfd entry { d.master, POLLIN, 0 };
            const ssize_t n = poll(&entry, 1, 0) > 0 ? read(d.master, chunk, sizeof chunk) : 0;
            const Bytes in(chunk, chunk + std::max<ssize_t>(n, 0));
            Bytes out = d.plays == 'E' ? in : Bytes {};
            if (d.plays == 'W' && contains(in, kAskSerial))
                out = junk + "\x7E\x0A\4\0\x78\x56\x34\x12\xE7"_b;
            if (d.plays == 'W' && contains(in, kAskParameters))
                out = out + "\x7E\x03\5\0\4\1\x09\1\x28\xE7"_b;
            d.got = d.got + in;
            (void)!write(d.master, out.data(), out.size());
        }
}

template <class Work> auto whileServing(std::deque<Device> &devices, Work work)
{
    auto result = std::async(std::launch::async, work);
    serve(devices, [&] { return result.wait_for(0s) == std::future_status::ready; });
    return result.get();
}

// The Open DMX writer's steps: B/M BREAK on/off, P pause (µs), W write (bytes), D drained.
struct RecordingLine final : das::DmxLine
{
    int note(std::string step, int r = 0)
    {
        const std::lock_guard lock(mutex);
        return log += step + " ", r;
    }
    int setBreak(bool on) override { return note(on ? "B" : "M"); }
    void pause(std::chrono::nanoseconds d) override { note("P" + std::to_string(d / 1us)); }
    int write(std::span<const uint8_t> b) override
    {
        return note("W" + std::to_string(b.size()), b.size());
    }
    int waitWritable(milliseconds) override { return 1; }
    int drain(milliseconds) override { return std::this_thread::sleep_for(2ms), note("D", 1); }
    std::mutex mutex;
    std::string log;
};

// The slots on a 250000 baud 8N2 line, not flushed away at a close; an unplugged device fails a
// send and closes. Each packet a BREAK (92 µs+), a mark (12+), the slots, drained before the next.
TEST(Outputs, OpenDmxLineAndPackets)
{
    std::deque<Device> devices;
    devices.emplace_back('S');
    ASSERT_EQ(dasOpen("opendmx:" + devices[0].path), DAS_OK);
    ASSERT_EQ(dasSend(), DAS_OK);
    serve(devices, [&] { return contains(devices[0].got, kSlots); });
    EXPECT_TRUE(contains(devices[0].got, kSlots));
    termios2 line {};
    ASSERT_EQ(ioctl(devices[0].slave, TCGETS2, &line), 0);
    EXPECT_EQ(line.c_ospeed, 250000u);
    EXPECT_EQ(line.c_cflag & (CSIZE | CSTOPB | PARENB), unsigned(CS8 | CSTOPB));
    // A pty master in packet mode reads each flush of the output queue as a status byte.
    int on = 1, flushes = 0;
    uint8_t chunk[1024];
    ASSERT_EQ(ioctl(devices[0].master, TIOCPKT, &on), 0);
    DasCall(DAS_CMD_CLOSE, 0, nullptr);
    for (pollfd entry { devices[0].master, POLLIN, 0 }; poll(&entry, 1, 200) > 0;)
        flushes += read(entry.fd, chunk, sizeof chunk) > 0 && (chunk[0] & TIOCPKT_FLUSHWRITE);
    EXPECT_EQ(flushes, 0) << "the line was flushed at the close";
    ASSERT_EQ(dasOpen("opendmx:" + devices[0].path), DAS_OK);
    devices.clear(); // unplugged
    EXPECT_LT(dasSend(), 0);
    EXPECT_EQ(dasSend(), DAS_E_NOT_OPEN);

    auto *recorder = new RecordingLine;
    auto output = das::makeOpenDmxOutput(std::unique_ptr<das::DmxLine>(recorder));
    ASSERT_EQ(output->send(das::Frame(kLevels.data(), 512)), DAS_OK);
    const std::regex packets(R"(B P(\d+) M P(\d+) W513 D B P\d+ M P\d+ W513 D [^]*)");
    const auto log = [&] { const std::lock_guard lock(recorder->mutex); return recorder->log; };
    for (int i = 0; i < 500 && !std::regex_match(log(), packets); ++i)
        std::this_thread::sleep_for(10ms);
    std::smatch m;
    const std::string steps = log();
    ASSERT_TRUE(std::regex_match(steps, m, packets)) << steps.substr(0, 80);
    EXPECT_TRUE(std::stoi(m[1]) >= 92 && std::stoi(m[2]) >= 12) << m[0];
}

// A /dev of only the real /dev/pts and an empty serial/by-id, and empty lock folders.
const char *const kPrivateDevices
    = "mount --make-rprivate / && mount -t tmpfs lock /run/lock && mount -t tmpfs lock /var/lock"
      " && mkdir /run/lock/pts && mount --bind /dev/pts /run/lock/pts && mount -t tmpfs dev /dev"
      " && mkdir -p /dev/pts /dev/serial/by-id && mount --move /run/lock/pts /dev/pts"
      " && ln -s pts/ptmx /dev/ptmx";

TEST(Outputs, UsbProDetectionUsesTheFirstWidgetThatAnswersAndLeavesTheRestAlone)
{
    // Devices in serial/by-id as "PHS NAME": P plays S, E or W; H held by a flock (F), exclusive
    // mode (X), a UUCP lock of a live process (L) or a gone one (O), or free (-); S sees nothing
    // (0), not even an open (N), the two requests (Q) or them and DMX (D). A board or a generic
    // FTDI adapter (no DMX in its name or USB strings) is never opened.
    const std::pair<std::vector<std::string>, std::vector<std::string>> scenes[] = {
        { { "W-N usb-Arduino_Uno_85735313-if00", "S-Q usb-Dmx4all_silent-if00-port0",
              "E-Q usb-EnTTec_echo-if00-port0", "WF0 usb-ENTTEC_DMX_1-if00-port0",
              "WX0 usb-ENTTEC_DMX_2-if00-port0", "WL0 usb-ENTTEC_DMX_3-if00-port0",
              "WOD usb-ENTTEC_DMX_4-if00-port0", "W-Q usb-ENTTEC_DMX_5-if00-port0",
              "W-N usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" }, {} },
        { { "S-Q usb-DMX_1-if00-port0", "E-Q usb-DMX_2-if00-port0", "WF0 usb-DMX_3-if00-port0",
              "W-N usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" },
            { "DMX_1-if00-port0: no answer", "DMX_2-if00-port0: no answer",
                "DMX_3-if00-port0: in use by another program (flock)" } },
    };
    const Bytes asked = kAskSerial + kAskParameters,
                dmx = asked + "\x7E\6\1\2"_b + kSlots + "\xE7"_b;
    for (size_t scene = 0; scene < 2 && !testing::Test::IsSkipped(); ++scene) {
        const auto &[roles, said] = scenes[scene];
        inPrivate(CLONE_NEWNS, kPrivateDevices, [&] {
            std::deque<Device> devices;
            const int opens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            for (const std::string &role : roles) {
                const Device &d = devices.emplace_back(
                    role[0], role[2] == 'Q' ? asked : role[2] == 'D' ? dmx : Bytes {});
                fs::create_symlink(d.path, "/dev/serial/by-id/" + role.substr(4));
                ASSERT_TRUE(role[1] != 'F' || flock(d.slave, LOCK_EX | LOCK_NB) == 0);
                ASSERT_TRUE(role[1] != 'X' || ioctl(d.slave, TIOCEXCL) == 0);
                if (role[1] == 'L' || role[1] == 'O')
                    std::ofstream("/run/lock/LCK.." + d.path.substr(9))
                        << (role[1] == 'L' ? getpid() : 999999999) << "\n";
                ASSERT_TRUE(
                    role[2] != 'N' || inotify_add_watch(opens, d.path.c_str(), IN_OPEN) > 0);
            }
            testing::internal::CaptureStderr();
            EXPECT_EQ(whileServing(devices, [] { return dasOpen("usbpro"); }),
                said.empty() ? DAS_OK : DAS_E_UNAVAILABLE);
            const std::string text = testing::internal::GetCapturedStderr();
            for (const std::string &part : said)
                EXPECT_NE(text.find(part), std::string::npos) << text;
            EXPECT_EQ(dasSend(), said.empty() ? DAS_OK : DAS_E_NOT_OPEN);
            serve(devices, [&] {
                return std::all_of(devices.begin(), devices.end(),
                    [](const Device &d) { return d.got.size() >= d.want.size(); });
            });
            for (size_t i = 0; i < roles.size(); ++i) {
                EXPECT_EQ(devices[i].got, devices[i].want) << roles[i];
                // Ours while open: another opener's flock fails and the line is exclusive.
                int exclusive = 0;
                EXPECT_TRUE(roles[i][2] != 'D' || (flock(devices[i].slave, LOCK_EX | LOCK_NB) != 0
                    && ioctl(devices[i].slave, TIOCGEXCL, &exclusive) == 0 && exclusive));
            }
            DasCall(DAS_CMD_CLOSE, 0, nullptr);
            int status = -1;
            const std::string scan = whileServing(
                devices, [&] { return testsupport::run(BRIVANE_CHECK " --scan 2>&1", &status); });
            EXPECT_EQ(status, said.empty() ? 0 : 1) << scan;
            // No open was seen, where the watch sees ours; the scan names the adapter.
            inotify_event events[8];
            EXPECT_LT(read(opens, events, sizeof events), 0) << "a device that says no DMX opened";
            close(open(devices.back().path.c_str(), O_RDONLY | O_NOCTTY));
            EXPECT_GT(read(opens, events, sizeof events), 0);
            const std::string ftdi = "/dev/serial/by-id/" + roles.back().substr(4);
            EXPECT_NE(scan.find(ftdi + ": USB serial adapter, not asked (it may be another kind of "
                "device); if it is a DMX interface, set usbpro:" + ftdi + " or opendmx:" + ftdi),
                scan.npos) << scan;
            close(opens);
        });
    }
}

// Without udev's links, ttyUSBn say they are DMX interfaces by their USB manufacturer and product
// strings (ttyUSB10 has no manufacturer, ttyUSB2 no strings), in a /dev and /sys of our own.
TEST(UsbSerialDevices, UsbStringsSayDmxAndNothingElseDoes)
{
    const testsupport::TempFolder root("usb-serial");
    testsupport::run("cd " + root.path() + " && mkdir dev && touch dev/ttyUSB2 && for t in "
        "'0 ENTTEC DMX_USB_PRO' '1 FTDI FT232R_USB_UART' '10 - Open_dmx'; do set -- $t; "
        "u=sys/devices/1-$1 && mkdir -p $u/1-1:1.0/ttyUSB$1 sys/class/tty/ttyUSB$1 && ln -s "
        "$PWD/$u/1-1:1.0/ttyUSB$1 sys/class/tty/ttyUSB$1/device && touch dev/ttyUSB$1 && "
        "echo 0403 >$u/idVendor && echo $3 | tr _ ' ' >$u/product && { [ $2 = - ] || echo $2 "
        ">$u/manufacturer; }; done");
    const auto found = das::findUsbSerialDevices({ root / "dev", root / "sys" });
    const std::string dev = root / "dev/ttyUSB";
    EXPECT_EQ(found.dmx, (std::vector { dev + "0", dev + "10" })) << "by number";
    EXPECT_EQ(found.others, (std::vector { dev + "1", dev + "2" }));
}

} // namespace
