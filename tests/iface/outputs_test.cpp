// The outputs against real peers through DasCall: UDP receivers on loopback in a network of the
// test's own, and pseudo-terminals playing serial devices, also in a /dev of the test's own.
#include "backends/opendmx_output.h"
#include "backends/usbpro_probe.h"
#include "dashard.h"
#include "net_support.h"
#include "shell.h"

#include <asm/termbits.h>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <poll.h>
#include <regex>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// Runs `body` in a child process that unshares `namespaces` and then makes `setUp` true, or
// skips when it cannot. Nothing of it outlives the child.
void inPrivate(
    int namespaces, const std::function<bool()> &setUp, const std::function<void()> &body)
{
    fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        alarm(60);
        if (unshare(namespaces) != 0 || !setUp())
            _exit(77);
        body();
        fflush(stdout);
        _exit(testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no private namespace here (needs root, ip, and / a mount point)";
    EXPECT_EQ(status, 0) << "the child failed, see above";
}

// Loopback up, 239.0.0.0/8 routed over it: multicast and broadcast never leave the child.
bool privateNetwork()
{
    return !std::system("ip link set lo up && ip route add 239.0.0.0/8 dev lo");
}

// START code 0, then levels with no other 0 and many bytes a tty or a framing mistake would alter:
// LF, CR, 0xFF and the USB Pro delimiters.
const Bytes kSlots = [] {
    Bytes bytes { 0x00 };
    for (int i = 0; i < 512; ++i)
        bytes.push_back(uint8_t(i % 6 < 5 ? "\n\r\x7E\xE7\xFF"[i % 6] : 1 + i % 9));
    return bytes;
}();
const Bytes kLevels(kSlots.begin() + 1, kSlots.end());
int dasSend()
{
    return DasCall(DAS_CMD_SEND, DAS_FRAME_SIZE, const_cast<uint8_t *>(kLevels.data()));
}
int dasOpen(const std::string &output)
{
    setenv("DASHARD_OUTPUT", output.c_str(), 1);
    return DasCall(DAS_CMD_OPEN, 0, nullptr);
}
Bytes operator+(Bytes head, const Bytes &tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}
bool contains(const Bytes &got, const Bytes &part)
{
    return std::search(got.begin(), got.end(), part.begin(), part.end()) != got.end();
}

TEST(Outputs, ArtNetBroadcastsEveryFieldAndSequenceOneTo255ThenOne)
{
    inPrivate(CLONE_NEWNET, privateNetwork, [] {
        nettest::UdpReceiver receiver(6454, INADDR_ANY);
        ASSERT_EQ(dasOpen("artnet:127.255.255.255@4660"), DAS_OK);
        Bytes want = Bytes {
            'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x50, 0, 14, 0, 0, 0x34, 0x12, 2, 0
        } + kLevels;
        // The same levels every time: an unchanged frame goes out all the same.
        for (int i = 0; i < 300; ++i) {
            ASSERT_EQ(dasSend(), DAS_OK);
            want[12] = uint8_t(i % 255 + 1);
            ASSERT_EQ(receiver.receive(), want) << "frame " << i;
        }
    });
}

// Multicast to the group of universe 63999: each open a new source, 300 frames with every header
// byte, the sequence counting on across its wrap, and on closing three goodbyes and no more.
TEST(Outputs, SacnMulticastsEveryFieldSequenceSourceAndGoodbye)
{
    inPrivate(CLONE_NEWNET, privateNetwork, [] {
        nettest::UdpReceiver receiver(5568, INADDR_ANY);
        ASSERT_TRUE(receiver.joinGroup(0xeffff9ff)); // 239.255.249.255
        Bytes cid(16);
        for (int open = 0; open < 2; ++open) {
            ASSERT_EQ(dasOpen("sacn@63999"), DAS_OK);
            for (int i = 0, first = 0; i < 303; ++i) {
                if (i <= 300)
                    i < 300 ? dasSend() : DasCall(DAS_CMD_CLOSE, 0, nullptr);
                const auto packet = receiver.receive();
                ASSERT_TRUE(packet && packet->size() == 638) << "packet " << i;
                if (i == 0) {
                    // A random (version 4, RFC 4122 variant) UUID, another than the last open's.
                    EXPECT_NE(Bytes(packet->begin() + 22, packet->begin() + 38), cid);
                    cid.assign(packet->begin() + 22, packet->begin() + 38);
                    EXPECT_TRUE((cid[6] & 0xf0) == 0x40 && (cid[8] & 0xc0) == 0x80);
                    first = (*packet)[111];
                }
                Bytes want = Bytes { 0, 0x10, 0, 0, 'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0,
                    0, 0, 0x72, 0x6e, 0, 0, 0, 4 }
                    + cid + Bytes { 0x72, 0x58, 0, 0, 0, 2, 'B', 'r', 'i', 'v', 'a', 'n', 'e' };
                want.resize(108); // then priority 100, sequence, options (0x40: terminated)
                want = want
                    + Bytes { 100, 0, 0, uint8_t(first + i), uint8_t(i < 300 ? 0 : 0x40), 0xf9,
                          0xff, 0x72, 0x0b, 2, 0xa1, 0, 0, 0, 1, 2, 1, 0 };
                ASSERT_EQ(*packet, want + kLevels) << "packet " << i;
            }
            EXPECT_FALSE(receiver.receive(300)) << "a packet after the third goodbye";
        }
    });
}

enum Plays { Silent, Echo, Widget };
const Bytes kAskSerial { 0x7E, 0x0A, 0, 0, 0xE7 }, kAskParameters { 0x7E, 0x03, 2, 0, 0, 0, 0xE7 };

// A pseudo-terminal playing a serial device; the output under test opens `path`.
struct Device
{
    Plays plays;
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    std::string path = grantpt(master) || unlockpt(master) ? "" : ptsname(master);
    int slave = open(path.c_str(), O_RDWR | O_NOCTTY); // held open here too
    Bytes got;
    ~Device() { close(master), close(slave); }
};

// Plays `devices` until `done`, for up to 5 s, keeping what each receives. An echoing device sends
// it back; a widget answers the serial number and parameter requests (serial 12345678, firmware
// 1.4), each behind bytes a reply parser must pass: some before a start, a message claiming 601
// bytes, and one with its end missing.
void serve(std::deque<Device> &devices, const std::function<bool()> &done)
{
    const Bytes junk { 1, 0xE7, 0, 0x0A, 0x7E, 5, 0x59, 2, 0, 0x7E, 0x0A, 4, 0, 1, 2, 3, 4, 0 };
    for (int round = 0; round < 2500 && !done(); ++round, std::this_thread::sleep_for(2ms))
        for (Device &d : devices) {
            uint8_t chunk[1024];
            pollfd entry { d.master, POLLIN, 0 };
            const ssize_t n = poll(&entry, 1, 0) > 0 ? read(d.master, chunk, sizeof chunk) : 0;
            const Bytes in(chunk, chunk + std::max<ssize_t>(n, 0));
            Bytes out = d.plays == Echo ? in : Bytes {};
            if (d.plays == Widget && contains(in, kAskSerial))
                out = junk + Bytes { 0x7E, 0x0A, 4, 0, 0x78, 0x56, 0x34, 0x12, 0xE7 };
            if (d.plays == Widget && contains(in, kAskParameters))
                out = out + Bytes { 0x7E, 0x03, 5, 0, 4, 1, 9, 1, 40, 0xE7 };
            d.got = d.got + in;
            (void)!write(d.master, out.data(), out.size());
        }
}

// Runs `work` while playing `devices`, and gives its result.
template <class Work> auto whileServing(std::deque<Device> &devices, Work work)
{
    auto result = std::async(std::launch::async, work);
    serve(devices, [&] { return result.wait_for(0s) == std::future_status::ready; });
    return result.get();
}

// The slots on a 250000 baud 8N2 line; once the device is unplugged a send fails and the output
// is closed.
TEST(Outputs, OpenDmxSendsTheSlotsUntilTheDeviceIsUnplugged)
{
    {
        std::deque<Device> devices(1);
        ASSERT_EQ(dasOpen("opendmx:" + devices[0].path), DAS_OK);
        ASSERT_EQ(dasSend(), DAS_OK);
        serve(devices, [&] { return contains(devices[0].got, kSlots); });
        EXPECT_TRUE(contains(devices[0].got, kSlots));
        termios2 line {};
        ASSERT_EQ(ioctl(devices[0].slave, TCGETS2, &line), 0);
        EXPECT_EQ(line.c_ospeed, 250000u);
        EXPECT_EQ(line.c_cflag & (CSIZE | CSTOPB | PARENB), unsigned(CS8 | CSTOPB));
    }
    EXPECT_LT(dasSend(), 0);
    EXPECT_EQ(dasSend(), DAS_E_NOT_OPEN);
}

// Logs the Open DMX writer's steps: B BREAK on, M BREAK off, P pause (µs), W write (bytes).
struct RecordingLine final : das::DmxLine
{
    int note(const std::string &step, int result = DAS_OK)
    {
        std::lock_guard lock(mutex);
        log += step + " ";
        return result;
    }
    int setBreak(bool on) override { return note(on ? "B" : "M"); }
    void pause(std::chrono::nanoseconds d) override
    {
        note("P" + std::to_string(d.count() / 1000));
    }
    int write(std::span<const uint8_t> bytes) override
    {
        return note("W" + std::to_string(bytes.size()), int(bytes.size()));
    }
    int waitWritable(std::chrono::milliseconds) override { return 1; }
    std::mutex mutex;
    std::string log;
};

// Two packets from one send, BREAK (92 µs or more), mark (12 or more), the slots: the adapter
// repeats nothing, so the writer must.
TEST(Outputs, OpenDmxPacketsAreBreakThenMarkThenTheSlots)
{
    auto *line = new RecordingLine;
    auto output = das::makeOpenDmxOutput(std::unique_ptr<das::DmxLine>(line));
    ASSERT_EQ(output->send(das::Frame(kLevels.data(), 512)), DAS_OK);
    const std::regex packets(R"(^B P(\d+) M P(\d+) W513 B P\d+ M P\d+ W513 [^]*)");
    std::smatch m;
    for (int i = 0;
         i < 500 && !(std::lock_guard(line->mutex), std::regex_match(line->log, m, packets)); ++i)
        std::this_thread::sleep_for(10ms);
    std::lock_guard lock(line->mutex);
    ASSERT_TRUE(std::regex_match(line->log, m, packets)) << line->log.substr(0, 80);
    EXPECT_TRUE(std::stoi(m[1]) >= 92 && std::stoi(m[2]) >= 12) << m[0];
}

// A /dev holding only the real /dev/pts and an empty serial/by-id folder, and empty lock folders.
bool privateDevices()
{
    // Without mounts of our own nothing here may be mounted: in a chroot "/" is no mount.
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        && mount("tmpfs", "/run/lock", "tmpfs", 0, nullptr) == 0
        && mount("tmpfs", "/var/lock", "tmpfs", 0, nullptr) == 0
        && mkdir("/run/lock/pts", 0755) == 0
        && mount("/dev/pts", "/run/lock/pts", nullptr, MS_BIND, nullptr) == 0
        && mount("tmpfs", "/dev", "tmpfs", 0, nullptr) == 0 && mkdir("/dev/pts", 0755) == 0
        && mount("/run/lock/pts", "/dev/pts", nullptr, MS_MOVE, nullptr) == 0
        && symlink("pts/ptmx", "/dev/ptmx") == 0 && mkdir("/dev/serial", 0755) == 0
        && mkdir("/dev/serial/by-id", 0755) == 0;
}

// How another program holds a device: flock on its own open, exclusive mode, a UUCP lock file
// naming a live process (this one) or one whose process is gone.
enum Held { Free, Flock, Exclusive, LockFile, StaleLockFile };
struct Role
{
    const char *name; // in /dev/serial/by-id
    Plays plays;
    Held held;
    char sees; // 0 not a byte, 'Q' the two requests only, 'D' them and then DMX
};

TEST(Outputs, UsbProDetectionUsesTheFirstWidgetThatAnswersAndLeavesTheRestAlone)
{
    // Without /dev/serial/by-id: the ttyUSB devices by number, and nothing else.
    inPrivate(CLONE_NEWNS, privateDevices, [] {
        for (const char *name :
            { "/dev/ttyUSB10", "/dev/ttyUSB2", "/dev/ttyACM0", "/dev/ttyUSBx", "/dev/ttyUSB" })
            close(open(name, O_CREAT | O_WRONLY, 0600));
        rmdir("/dev/serial/by-id");
        EXPECT_EQ(das::usbProCandidates(),
            (std::vector<std::string> { "/dev/ttyUSB2", "/dev/ttyUSB10" }));
    });
    // The first free widget in name order, past a silent and an echoing device and the widgets
    // other programs hold; a board is no candidate, a stale lock holds nothing. Then no widget:
    // each device is named with why it was passed over (empty: the open succeeds).
    const std::pair<std::vector<Role>, std::vector<std::string>> scenes[] = {
        { { { "usb-Arduino_Uno_85735313-if00", Widget, Free, 0 },
              { "usb-Dmx4all_silent-if00-port0", Silent, Free, 'Q' },
              { "usb-EnTTec_echo-if00-port0", Echo, Free, 'Q' },
              { "usb-FTDI_1-if00-port0", Widget, Flock, 0 },
              { "usb-FTDI_2-if00-port0", Widget, Exclusive, 0 },
              { "usb-FTDI_3-if00-port0", Widget, LockFile, 0 },
              { "usb-FTDI_4-if00-port0", Widget, StaleLockFile, 'D' },
              { "usb-FTDI_5-if00-port0", Widget, Free, 'Q' } },
            {} },
        { { { "usb-DMX_1-if00-port0", Silent, Free, 'Q' },
              { "usb-FTDI_2-if00-port0", Echo, Free, 'Q' },
              { "usb-FTDI_3-if00-port0", Widget, Flock, 0 } },
            { "by-id/usb-DMX_1-if00-port0: no answer", "by-id/usb-FTDI_2-if00-port0: no answer",
                "by-id/usb-FTDI_3-if00-port0: in use by another program (flock)" } },
    };
    const Bytes asked = kAskSerial + kAskParameters,
                dmx = Bytes { 0x7E, 0x06, 0x01, 0x02 } + kSlots + Bytes { 0xE7 };
    for (const auto &[roles, said] : scenes) {
        inPrivate(CLONE_NEWNS, privateDevices, [&] {
            std::deque<Device> devices;
            for (const Role &role : roles) {
                const Device &d = devices.emplace_back(role.plays);
                const std::string lock = "/run/lock/LCK.." + d.path.substr(d.path.rfind('/') + 1);
                ASSERT_EQ(symlink(d.path.c_str(),
                              ("/dev/serial/by-id/" + std::string(role.name)).c_str()),
                    0);
                ASSERT_TRUE(role.held != Flock || flock(d.slave, LOCK_EX | LOCK_NB) == 0);
                ASSERT_TRUE(role.held != Exclusive || ioctl(d.slave, TIOCEXCL) == 0);
                if (role.held >= LockFile)
                    std::ofstream(lock)
                        << (role.held == LockFile ? "     " + std::to_string(getpid())
                                                  : " 999999999")
                        << "\n";
            }
            testing::internal::CaptureStderr();
            EXPECT_EQ(whileServing(devices, [] { return dasOpen("usbpro"); }),
                said.empty() ? DAS_OK : DAS_E_UNAVAILABLE);
            const std::string text = testing::internal::GetCapturedStderr();
            for (const std::string &part : said)
                EXPECT_NE(text.find(part), std::string::npos) << text;
            EXPECT_EQ(dasSend(), said.empty() ? DAS_OK : DAS_E_NOT_OPEN);
            serve(devices, [&] {
                for (size_t i = 0; i < roles.size(); ++i)
                    if (roles[i].sees == 'D' ? !contains(devices[i].got, dmx)
                                             : devices[i].got.size() < (roles[i].sees ? 12u : 0u))
                        return false;
                return true;
            });
            for (size_t i = 0; i < roles.size(); ++i) {
                const Bytes &got = devices[i].got;
                EXPECT_TRUE(roles[i].sees == 'D' ? got.size() > 12
                            && Bytes(got.begin(), got.begin() + 12) == asked && contains(got, dmx)
                                                 : got == (roles[i].sees ? asked : Bytes {}))
                    << roles[i].name;
                // Ours while open: another opener's flock fails and the line is exclusive.
                int exclusive = 0;
                EXPECT_TRUE(roles[i].sees != 'D'
                    || (flock(devices[i].slave, LOCK_EX | LOCK_NB) != 0
                        && ioctl(devices[i].slave, TIOCGEXCL, &exclusive) == 0 && exclusive));
            }
            DasCall(DAS_CMD_CLOSE, 0, nullptr);
            // brivane-check --scan sees the same: it says yes only when a widget answers.
            int status = -1;
            const std::string scan = whileServing(
                devices, [&] { return testsupport::run(BRIVANE_CHECK " --scan 2>&1", &status); });
            EXPECT_EQ(status, said.empty() ? 0 : 1) << scan;
        });
    }
}

} // namespace
