// usbpro without a device: which serial devices are asked, which one is used, what the others
// receive, and how devices held by other programs are left alone. Each case runs in a child
// process with a /dev of its own, where pseudo-terminals play the devices behind
// /dev/serial/by-id links.
#include "backends/usbpro_probe.h"
#include "dashard.h"
#include "encode/usbpro.h"
#include "shell.h"

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

const Bytes kQuestions { 0x7E, 0x0A, 0, 0, 0xE7, 0x7E, 0x03, 0x02, 0, 0, 0, 0xE7 };
constexpr int kNoNamespace = 77;

// Runs `body` in a child process with private mounts: a tmpfs /dev holding only the real
// /dev/pts, and empty lock folders. Nothing of it outlives the child.
void withPrivateDevices(const std::function<void()> &body)
{
    fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        alarm(60);
        // Without mounts of our own nothing here may be mounted: in a chroot "/" is no mount.
        if (unshare(CLONE_NEWNS) != 0
            || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            _exit(kNoNamespace);
        // /dev/pts waits in the fresh lock folder while /dev is replaced.
        const bool ready = mount("tmpfs", "/run/lock", "tmpfs", 0, nullptr) == 0
            && mount("tmpfs", "/var/lock", "tmpfs", 0, nullptr) == 0
            && mkdir("/run/lock/pts", 0755) == 0
            && mount("/dev/pts", "/run/lock/pts", nullptr, MS_BIND, nullptr) == 0
            && mount("tmpfs", "/dev", "tmpfs", 0, nullptr) == 0 && mkdir("/dev/pts", 0755) == 0
            && mount("/run/lock/pts", "/dev/pts", nullptr, MS_MOVE, nullptr) == 0
            && symlink("pts/ptmx", "/dev/ptmx") == 0;
        EXPECT_TRUE(ready) << "private /dev: " << strerror(errno);
        if (ready)
            body();
        fflush(stdout);
        _exit(testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespace)
        GTEST_SKIP() << "no private mount namespace here (needs CAP_SYS_ADMIN, and / a mount point, "
                        "which it is not in a chroot)";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed, see above";
}

enum Plays { Silent, Echo, Widget };

// Pseudo-terminals playing serial devices, served by a thread until the bench goes. A widget
// answers Get Serial Number with 12345678 and Get Widget Parameters with firmware 1.4.
class Bench
{
public:
    struct Device
    {
        Plays plays = Silent;
        int master = -1, slave = -1; // slave: the end under test, also held open here
        std::string path;
        Bytes got;
        das::UsbProParser parser;
    };

    explicit Bench(const std::vector<Plays> &plays)
    {
        for (Plays p : plays) {
            Device &d = m_devices.emplace_back();
            d.plays = p;
            termios raw {};
            cfmakeraw(&raw);
            if (openpty(&d.master, &d.slave, nullptr, &raw, nullptr) != 0)
                throw std::runtime_error("no pseudo-terminal");
            d.path = ttyname(d.slave);
        }
        m_thread = std::thread([this] { serve(); });
    }
    ~Bench()
    {
        m_stop = true;
        m_thread.join();
        for (Device &d : m_devices)
            close(d.master), close(d.slave);
    }
    Device &operator[](size_t i) { return m_devices[i]; }
    // What device `i` has received once `done` holds for it, or after 5 s.
    Bytes got(size_t i, const std::function<bool(const Bytes &)> &done)
    {
        for (int round = 0; round < 500; ++round) {
            if (std::lock_guard lock(m_mutex); done(m_devices[i].got))
                break;
            std::this_thread::sleep_for(10ms);
        }
        std::lock_guard lock(m_mutex);
        return m_devices[i].got;
    }

private:
    void serve()
    {
        std::vector<pollfd> fds;
        for (Device &d : m_devices)
            fds.push_back({ d.master, POLLIN, 0 });
        while (!m_stop) {
            if (poll(fds.data(), fds.size(), 10) <= 0)
                continue;
            for (size_t i = 0; i < fds.size(); ++i) {
                uint8_t chunk[1024];
                const ssize_t n
                    = fds[i].revents & POLLIN ? read(fds[i].fd, chunk, sizeof chunk) : 0;
                if (n > 0)
                    answer(m_devices[i], Bytes(chunk, chunk + n));
            }
        }
    }
    void answer(Device &d, const Bytes &bytes)
    {
        std::lock_guard lock(m_mutex);
        d.got.insert(d.got.end(), bytes.begin(), bytes.end());
        Bytes reply = d.plays == Echo ? bytes : Bytes {};
        for (const das::UsbProMessage &m : d.parser.feed(bytes)) {
            if (d.plays == Widget && m.label == das::kUsbProGetSerial)
                reply.insert(reply.end(), { 0x7E, 0x0A, 4, 0, 0x78, 0x56, 0x34, 0x12, 0xE7 });
            if (d.plays == Widget && m.label == das::kUsbProGetParameters)
                reply.insert(reply.end(), { 0x7E, 0x03, 5, 0, 4, 1, 9, 1, 40, 0xE7 });
        }
        (void)!write(d.master, reply.data(), reply.size());
    }

    std::vector<Device> m_devices; // never grows once the thread runs
    std::mutex m_mutex;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

// How another program holds a device: none, flock on its own open of it, exclusive mode, a UUCP
// lock file naming a live process (this one), or one whose process is gone.
enum Held { Free, Flock, Exclusive, LockFile, StaleLockFile };
const char *const kHeldAs[]
    = { "", "(flock)", "(exclusive mode)", "(lock file /run/lock/LCK..", "" };

void hold(const Bench::Device &d, Held held)
{
    if (held == Flock) {
        ASSERT_EQ(flock(d.slave, LOCK_EX | LOCK_NB), 0);
    }
    if (held == Exclusive) {
        ASSERT_EQ(ioctl(d.slave, TIOCEXCL), 0);
    }
    if (held == LockFile || held == StaleLockFile) {
        const std::string lock = "/run/lock/LCK.." + d.path.substr(d.path.rfind('/') + 1);
        FILE *file = fopen(lock.c_str(), "w");
        ASSERT_TRUE(file);
        fprintf(file, "%10d\n", held == LockFile ? int(getpid()) : 999'999'999);
        fclose(file);
    }
}

// Command 1 with DASHARD_OUTPUT=`output`: its result, and what the library said on stderr.
int dasOpen(const std::string &output, std::string &said)
{
    setenv("DASHARD_OUTPUT", output.c_str(), 1);
    int ends[2];
    if (pipe2(ends, O_NONBLOCK) != 0)
        return DAS_E_INTERNAL;
    fflush(stderr);
    const int saved = dup(2);
    dup2(ends[1], 2);
    const int result = DasCall(DAS_CMD_OPEN, 0, nullptr);
    dup2(saved, 2);
    close(saved);
    close(ends[1]);
    char text[4096];
    said.assign(text, size_t(std::max<ssize_t>(read(ends[0], text, sizeof text), 0)));
    close(ends[0]);
    return result;
}

bool contains(const Bytes &got, const Bytes &part)
{
    return std::search(got.begin(), got.end(), part.begin(), part.end()) != got.end();
}

struct Role
{
    const char *name; // in /dev/serial/by-id
    Plays plays;
    Held held;
    char sees; // 0 not a byte, 'Q' the two requests only, 'D' them and then DMX
};
struct Scene
{
    const char *what;
    std::vector<Role> devices;
    std::vector<std::string> said; // empty: command 1 succeeds
};
const Scene kScenes[] = {
    { "the first widget in name order, behind a silent and an echoing device; the board is no "
      "candidate though it would answer",
        { { "usb-Arduino_Uno_85735313-if00", Widget, Free, 0 },
            { "usb-Dmx4all_silent-if00-port0", Silent, Free, 'Q' },
            { "usb-EnTTec_echo-if00-port0", Echo, Free, 'Q' },
            { "usb-FTDI_FT232R_A-if00-port0", Widget, Free, 'D' },
            { "usb-FTDI_FT232R_B-if00-port0", Widget, Free, 'Q' } },
        {} },
    { "widgets other programs hold are passed over untouched; a stale lock file holds nothing",
        { { "usb-FTDI_1-if00-port0", Widget, Flock, 0 },
            { "usb-FTDI_2-if00-port0", Widget, Exclusive, 0 },
            { "usb-FTDI_3-if00-port0", Widget, LockFile, 0 },
            { "usb-FTDI_4-if00-port0", Widget, StaleLockFile, 'D' } },
        {} },
    { "no candidate", { { "usb-Arduino_Uno_85735313-if00", Widget, Free, 0 } },
        { "no USB serial device that looks like a DMX interface" } },
    { "no widget: each device named with why it was passed over",
        { { "usb-DMX_1-if00-port0", Silent, Free, 'Q' },
            { "usb-FTDI_2-if00-port0", Echo, Free, 'Q' },
            { "usb-FTDI_3-if00-port0", Widget, Flock, 0 } },
        { "/dev/serial/by-id/usb-DMX_1-if00-port0: no answer",
            "/dev/serial/by-id/usb-FTDI_2-if00-port0: no answer",
            "/dev/serial/by-id/usb-FTDI_3-if00-port0: in use by another program (flock)" } },
};

TEST(UsbProDetection, UsesTheFirstWidgetThatAnswersAndLeavesTheRestAlone)
{
    Bytes dmx { 0x7E, 0x06, 0x01, 0x02, 0x00 };
    dmx.resize(5 + DAS_FRAME_SIZE, 0x5A);
    dmx.push_back(0xE7);
    for (const Scene &scene : kScenes) {
        SCOPED_TRACE(scene.what);
        withPrivateDevices([&] {
            ASSERT_EQ(mkdir("/dev/serial", 0755) | mkdir("/dev/serial/by-id", 0755), 0);
            std::vector<Plays> plays;
            for (const Role &d : scene.devices)
                plays.push_back(d.plays);
            Bench bench(plays);
            std::vector<std::string> paths;
            for (size_t i = 0; i < scene.devices.size(); ++i) {
                paths.push_back(std::string("/dev/serial/by-id/") + scene.devices[i].name);
                ASSERT_EQ(symlink(bench[i].path.c_str(), paths[i].c_str()), 0);
                hold(bench[i], scene.devices[i].held);
            }
            std::string said;
            const int result = dasOpen("usbpro", said);
            for (const std::string &part : scene.said)
                EXPECT_NE(said.find(part), std::string::npos) << said;
            if (scene.said.empty()) {
                ASSERT_EQ(result, DAS_OK) << said;
                ASSERT_EQ(DasCall(DAS_CMD_SEND, DAS_FRAME_SIZE, dmx.data() + 5), DAS_OK);
            } else {
                EXPECT_EQ(result, DAS_E_UNAVAILABLE);
            }
            for (size_t i = 0; i < scene.devices.size(); ++i) {
                const Role &d = scene.devices[i];
                SCOPED_TRACE(d.name);
                if (d.sees != 'D') {
                    EXPECT_EQ(
                        bench.got(i, [&](const Bytes &b) { return !d.sees || b.size() >= 12; }),
                        d.sees ? kQuestions : Bytes {});
                    continue;
                }
                const Bytes got = bench.got(i, [&](const Bytes &b) { return contains(b, dmx); });
                EXPECT_TRUE(got.size() > 12 && Bytes(got.begin(), got.begin() + 12) == kQuestions
                    && contains(got, dmx));
                // Ours while open: another opener's flock fails and the line is exclusive.
                int exclusive = 0;
                EXPECT_NE(flock(bench[i].slave, LOCK_EX | LOCK_NB), 0);
                EXPECT_TRUE(ioctl(bench[i].slave, TIOCGEXCL, &exclusive) == 0 && exclusive);
                DasCall(DAS_CMD_CLOSE, 0, nullptr);
                EXPECT_EQ(das::heldByAnotherProgram(paths[i]), "") << "still held once closed";
            }
            // Named outright, a held device fails with the reason.
            for (size_t i = 0; i < scene.devices.size(); ++i) {
                const std::string as = kHeldAs[scene.devices[i].held];
                if (as.empty())
                    continue;
                EXPECT_NE(das::heldByAnotherProgram(paths[i]).find(as), std::string::npos);
                EXPECT_EQ(dasOpen("usbpro:" + paths[i], said), DAS_E_UNAVAILABLE);
                EXPECT_NE(said.find("in use by another program " + as), std::string::npos) << said;
            }
            // brivane-check --scan sees the same: it says yes only when a widget answers.
            int status = -1;
            const std::string scan = testsupport::run(BRIVANE_CHECK " --scan 2>&1", &status);
            EXPECT_EQ(status, scene.said.empty() ? 0 : 1) << scan;
        });
    }
}

TEST(UsbProDetection, TtyUsbByNumberAndWhatEachDeviceSays)
{
    withPrivateDevices([] {
        // Without /dev/serial/by-id: the ttyUSB devices by number, and nothing else.
        for (const char *name :
            { "/dev/ttyUSB10", "/dev/ttyUSB2", "/dev/ttyACM0", "/dev/ttyUSBx", "/dev/ttyUSB" })
            close(open(name, O_CREAT | O_WRONLY, 0600));
        EXPECT_EQ(das::usbProCandidates(),
            (std::vector<std::string> { "/dev/ttyUSB2", "/dev/ttyUSB10" }));

        Bench bench({ Widget, Silent, Widget });
        hold(bench[2], Flock);
        const std::vector<std::string> paths { bench[0].path, bench[1].path, bench[2].path };
        const auto replies = das::askWidgets(paths, 500ms);
        ASSERT_EQ(replies.size(), 3u);
        EXPECT_TRUE(replies[0].answered && replies[0].serial == 0x12345678u
            && replies[0].firmware == 0x0104);
        EXPECT_TRUE(!replies[1].answered && replies[1].why.starts_with("no answer"));
        EXPECT_TRUE(!replies[2].answered && replies[2].why == "in use by another program (flock)");
        for (size_t i = 0; i < 3; ++i)
            EXPECT_EQ(replies[i].device, paths[i]);
        EXPECT_EQ(bench.got(0, [](const Bytes &b) { return b.size() >= 12; }), kQuestions);
    });
}

} // namespace
