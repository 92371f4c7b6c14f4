// The real program in a real X window, driven only through the X server (xdotool), watched on
// loopback, in its output library's trace and on the screen.
#include "net_support.h"
#include "shell.h"
#include "temp_folder.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using testsupport::run;

// The program running. Past E2E_SUITE_SECONDS, or at SIGTERM, SIGINT or SIGHUP, the suite ends
// it, removes its folders and exits failed, before ctest's timeout would kill it with no clean-up.
std::atomic<pid_t> g_running = -1;
int g_wake[2];
[[maybe_unused]] const bool g_bound = pipe(g_wake) == 0 && (std::thread([] {
    for (const int signal : { SIGTERM, SIGINT, SIGHUP })
        std::signal(signal, [](int) { (void)!write(g_wake[1], "", 1); });
    pollfd woken { g_wake[0], POLLIN, 0 };
    while (poll(&woken, 1, E2E_SUITE_SECONDS * 1000) < 0)
        ; // another signal: wait on
    if (const pid_t pid = g_running; pid > 0)
        kill(pid, SIGKILL);
    testsupport::TempFolder::removeAll();
    std::fputs("signalled or past its time bound: program ended, folders removed\n", stderr);
    _exit(1);
}).detach(), true);

// The first channels at these levels and the others at 0, in hex as the trace has them.
std::string levels(std::vector<int> first)
{
    std::string hex;
    for (first.resize(512); const int level : first)
        hex += { "0123456789abcdef"[level >> 4], "0123456789abcdef"[level & 15] };
    return hex;
}
// Datagrams before the first ArtDmx to port-address 0 with these levels; -1 if not in the next 30.
int framesBefore(nettest::UdpReceiver &receiver, const std::string &wanted)
{
    for (int i = 0; i < 30; ++i)
        if (const auto p = receiver.receive(1000); !p
            || (p->size() == 530 && !(*p)[14] && !(*p)[15]
                && levels(std::vector<int>(p->begin() + 18, p->end())) == wanted))
            return p ? i : -1;
    return -1;
}
bool within(int seconds, auto holds)
{
    for (int i = 0; i < seconds * 10 && !holds(); ++i)
        std::this_thread::sleep_for(100ms);
    return holds();
}

// A DMX USB Pro widget on a pseudo-terminal, reached through a symlink as through a by-id name:
// it answers the serial number request that comes first and takes the rest. Its end hangs up.
struct PtyWidget
{
    explicit PtyWidget(std::string at) : link(std::move(at)) {}
    ~PtyWidget() { unplugged = true, serving.join(), close(master); }
    const std::string link;
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // Any link left from before replaced, as udev does when a widget comes back.
    const bool plugged = (unlink(link.c_str()), !grantpt(master) && !unlockpt(master))
        && !symlink(ptsname(master), link.c_str());
    std::atomic<bool> unplugged = false;
    bool answered = false;
    std::thread serving { [this] {
        for (char in[4096]; !unplugged; std::this_thread::sleep_for(10ms))
            if (read(master, in, sizeof in) > 0 && !answered)
                answered = write(master, "\x7E\x0A\x04\0\x78\x56\x34\x12\xE7", 9) == 9;
    } };
};

class E2e : public ::testing::Test
{
protected:
    // A program that ignores SIGTERM is ended by the suite's bound.
    void TearDown() override
    {
        int status = 0;
        if (m_pid > 0 && kill(m_pid, SIGTERM) == 0 && waitpid(m_pid, &status, 0) == m_pid)
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "it ended by itself";
        g_running = -1;
    }
    void start(const std::string &output)
    {
        setenv("DASHARD_OUTPUT", output.c_str(), 1);
        setenv("DASHARD_TRACE", m_trace.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", m_folder.path().c_str(), 1);
        if ((g_running = m_pid = fork()) == 0) { // signals as a plain shell leaves them
            const sigset_t none {};
            _exit((sigprocmask(SIG_SETMASK, &none, nullptr), signal(SIGPIPE, SIG_DFL),
                execl(BRIVANE_EXE, BRIVANE_EXE, nullptr)));
        }
        m_id = run("timeout 10 xdotool search --sync --onlyvisible --name '^Brivane$'");
        ASSERT_FALSE(m_id.empty()) << "no window titled Brivane appeared";
        m_id.resize(m_id.find('\n'));
    }
    std::string xdo(const std::string &commands) { return run("xdotool " + commands); }
    std::string at(int x, int y)
    {
        return " mousemove --window " + m_id + ' ' + std::to_string(x) + ' ' + std::to_string(y);
    }
    void toggle() { xdo(at(42, 20) + " click 1"); }
    void keys(const std::string &names) { xdo("windowfocus --sync " + m_id + " key " + names); }
    // The toggle on the screen, the pointer away: a flat button shows a face only under it.
    std::string face()
    {
        xdo(at(20, 420));
        return run("import -window " + m_id + " -crop 78x25+3+8 +repage ppm:-");
    }
    // The face once it differs from `before` and holds still.
    std::string settledFace(const std::string &before)
    {
        std::string last, now;
        within(5, [&] { return (now = face()) != before && std::exchange(last, now) == now; });
        return now;
    }
    // What awk prints from the trace: fields seconds, command, length, result and levels.
    std::string traced(const std::string &awk) { return run("awk '" + awk + "' " + m_trace); }
    bool sent(const std::string &awk, const std::string &wanted)
    {
        return within(3, [&] { return traced(awk).find(wanted) != std::string::npos; });
    }

    testsupport::TempFolder m_folder { "brivane-e2e" };
    const std::string m_trace = m_folder / "trace";
    pid_t m_pid = -1;
    std::string m_id;
};

TEST_F(E2e, OnTheWireFromToggleToClearAndThroughAReceiverGone)
{
    // With no output chosen the toggle drives Art-Net here; checked only when 6454 is free.
    std::optional<nettest::UdpReceiver> receiver(std::in_place, 6454);
    if (!receiver->ok())
        receiver.emplace();
    const uint16_t port = receiver->port();
    start(port == 6454 ? "" : "artnet:127.0.0.1:" + std::to_string(port));
    const std::string idle = face();
    EXPECT_FALSE(receiver->receive(500)) << "frames before the interface was opened";
    EXPECT_EQ(run("import -window " + m_id + " " E2E_ARTIFACTS "/window.png; echo $?"), "0\n");
    toggle();
    const std::string ok = settledFace(idle);
    // The keys start on fader 1, Tab passes over the third, a key steps one level.
    keys("Home Tab Home Next Tab Home Down Down");
    EXPECT_GE(framesBefore(*receiver, levels({ 255, 254, 0, 253 })), 0) << "Tab order or step";
    // A drag reaches the wire while the thumb is held, within one period, on its own channel.
    xdo(at(236, 368) + " mousedown 1" + at(236, 300) + " sleep 0.05" + at(236, 100));
    receiver->drain();
    const int before = framesBefore(*receiver, levels({ 255, 254, 0, 253, 255 }));
    EXPECT_TRUE(before == 0 || before == 1) << before << " frames before the drag's level";
    xdo("mouseup 1");
    // A receiver gone is no failure: the toggle stays "DAS OK" and the sends go on.
    receiver.reset();
    keys("Down");
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(face(), ok);
    receiver.emplace(port);
    EXPECT_EQ(framesBefore(*receiver, levels({ 255, 254, 0, 253, 254 })), 0) << "a level lost";
    receiver->drain();
    xdo(at(120, 68) + " click 1");
    EXPECT_GE(framesBefore(*receiver, levels({})), 0) << "Clear sent no all-zero frame";
    toggle();
    EXPECT_TRUE(receiver->drain(150)) << "the frames never paused";
    EXPECT_FALSE(receiver->receive(500)) << "frames after the interface was closed";
}

TEST_F(E2e, UsbProWidgetUnpluggedAndPluggedBackLosesNoLevel)
{
    const std::string link = m_folder / "widget";
    std::optional<PtyWidget> widget;
    start("usbpro:" + link);
    // The captions by their faces: with no widget the toggle reads "DAS NG", then "DAS OFF".
    const std::string idle = face();
    toggle();
    const std::string ng = settledFace(idle);
    toggle();
    const std::string off = settledFace(ng);
    ASSERT_TRUE(widget.emplace(link).plugged);
    toggle();
    const std::string ok = settledFace(off);
    ASSERT_FALSE(ng.empty() || off.empty() || ok.empty() || ng == ok);
    keys("Home Tab Home Down");
    ASSERT_TRUE(sent("$2 == 4 && $4 == 0", levels({ 255, 254 })));
    widget.reset();
    EXPECT_TRUE(within(5, [&] { return face() == ng; })) << "no \"DAS NG\" when unplugged";
    keys("Down");
    EXPECT_TRUE(sent("$2 == 4 && $4 < 0", levels({ 255, 253 }))) << "a key press not traced";
    ASSERT_TRUE(widget.emplace(link).plugged);
    toggle();
    toggle();
    EXPECT_TRUE(within(5, [&] { return face() == ok; })) << "no \"DAS OK\" once back";
    // No level lost: the first frame sent after the second open that worked carries them all.
    EXPECT_TRUE(sent(
        "$2 == 1 && !$4 { n++ } $2 == 4 && !$4 && n == 2 { print; exit }", levels({ 255, 253 })));
    EXPECT_EQ(traced("$2 != 4 { c = c $2 } END { print c }"), "1213213\n") << "open, start, close";
}

} // namespace
