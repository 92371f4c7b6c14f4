// The real program in a real X window: driven through the X server only, watched through its
// output library's trace and a real Art-Net receiver on loopback.
#include "desktop.h"
#include "net_support.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

using namespace e2e;

int level(const nettest::Packet &artDmx, int channel) { return artDmx[std::size_t(17 + channel)]; }

class Console : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "no X server: these tests run under xvfb-run (Debian's xvfb)";
        ASSERT_FALSE(m_folder.path().empty());
    }

    // Starts the program as a user does, with the output library's settings and Qt's runtime
    // folder in the test's own.
    void start(const std::string &output, const std::string &exe = BRIVANE_EXE,
               std::map<std::string, std::string> env = {})
    {
        env.insert({ { "DASHARD_OUTPUT", output }, { "DASHARD_TRACE", m_trace },
                     { "XDG_RUNTIME_DIR", m_folder.path() } });
        m_program = std::make_unique<e2e::Process>(std::vector<std::string> { exe }, env);
        m_window = std::make_unique<e2e::Window>(e2e::Window::find("Brivane"));
        ASSERT_TRUE(m_window->ok()) << "no window titled Brivane appeared";
    }
    void startArtNet()
    {
        ASSERT_TRUE(m_receiver.ok());
        start("artnet:127.0.0.1:" + std::to_string(m_receiver.port()));
    }
    void TearDown() override
    {
        if (m_program)
            EXPECT_EQ(m_program->stop(), 128 + SIGTERM) << "the program ended before it was closed";
    }

    // Drops the frames already queued; with `quietMs`, also those until the sender goes quiet.
    void drain(int quietMs = 0) { EXPECT_TRUE(m_receiver.drain(quietMs)) << "the frames never paused"; }
    // The first frame whose levels satisfy `wanted`, and how many frames came before it.
    std::optional<nettest::Packet> awaitFrame(const std::function<bool(const nettest::Packet &)> &wanted,
                                              int *before = nullptr, int maxFrames = 30)
    {
        for (int i = 0; i < maxFrames; ++i) {
            auto packet = m_receiver.receive(1000);
            if (!packet)
                return std::nullopt;
            if (packet->size() == 530 && wanted(*packet)) {
                if (before)
                    *before = i;
                return packet;
            }
        }
        return std::nullopt;
    }

    e2e::TempFolder m_folder { "brivane-e2e" };
    const std::string m_trace = m_folder / "trace";
    nettest::UdpReceiver m_receiver;
    std::unique_ptr<e2e::Process> m_program;
    std::unique_ptr<e2e::Window> m_window;
};

TEST_F(Console, WindowHasItsTitlePlaceAndSizeOnTheXServer)
{
    start("none");
    auto info = m_window->info();
    EXPECT_EQ(info["Absolute upper-left X"], "352");
    EXPECT_EQ(info["Absolute upper-left Y"], "380");
    EXPECT_EQ(info["Width"], "628");
    EXPECT_EQ(info["Height"], "434");
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(m_window->screenshot(E2E_ARTIFACTS "/window.png"));
}

TEST_F(Console, TraceShowsSendsFromTheStartTheToggleCommandsAndClear)
{
    start("none");
    std::this_thread::sleep_for(1500ms);
    m_window->click(kToggleX, kToggleY);
    m_window->click(kToggleX, kToggleY);
    m_window->keys({ "Home" }); // the first fader has the focus at start
    std::this_thread::sleep_for(300ms);
    m_window->click(kClearX, kClearY);
    std::this_thread::sleep_for(300ms);

    std::vector<int> commands;
    int sends = 0;
    std::string last;
    bool clearedAfterLevel = false;
    for (const TraceLine &line : readTrace(m_trace)) {
        if (line.command != 4) {
            commands.push_back(line.command);
            if (line.command == 1)
                EXPECT_LT(line.result, 0) << "the output \"none\" opened";
            continue;
        }
        ++sends;
        EXPECT_EQ(line.length, 512);
        EXPECT_EQ(line.hex.size(), 1024u);
        clearedAfterLevel |= last.rfind("ff00", 0) == 0 && line.hex == std::string(1024, '0');
        last = line.hex;
    }
    // No open succeeds, so no start follows it; the second click closes.
    EXPECT_EQ(commands, std::vector<int>({ 1, 2 }));
    EXPECT_GE(sends, 10) << "the timer does not send from the start";
    EXPECT_TRUE(clearedAfterLevel) << "no all-zero frame followed the level on channel 1";
}

TEST_F(Console, ArtNetFlowsOnlyWhileTheToggleIsDown)
{
    startArtNet();
    EXPECT_FALSE(m_receiver.receive(500)) << "frames before the interface was opened";
    m_window->click(kToggleX, kToggleY);
    int frames = 0;
    for (; frames < 10; ++frames) {
        auto packet = m_receiver.receive(1000);
        ASSERT_TRUE(packet) << "no frame after " << frames;
        ASSERT_EQ(packet->size(), 530u);
    }
    m_window->click(kToggleX, kToggleY);
    drain(150);
    EXPECT_FALSE(m_receiver.receive(500)) << "frames after the interface was closed";
}

TEST_F(Console, WithNoOutputChosenTheToggleDrivesArtNetOnThisMachine)
{
    nettest::UdpReceiver local(6454);
    if (!local.ok())
        GTEST_SKIP() << "the Art-Net port 6454 on 127.0.0.1 is taken on this machine";
    start("");
    m_window->keys({ "Home" });
    m_window->click(kToggleX, kToggleY);
    std::optional<nettest::Packet> frame;
    for (int i = 0; i < 20 && !(frame && level(*frame, 1) == 255); ++i)
        frame = local.receive(1000);
    ASSERT_TRUE(frame) << "nothing arrived on 127.0.0.1:6454";
    ASSERT_EQ(frame->size(), 530u);
    EXPECT_EQ(level(*frame, 1), 255);
    EXPECT_EQ((*frame)[14], 0); // port-address 0
    EXPECT_EQ((*frame)[15], 0);
}

TEST_F(Console, InstalledAndStartedWithoutTheVariableItFollowsTheUsersSettingsFile)
{
    ASSERT_TRUE(m_receiver.ok());
    struct Stage
    {
        std::string path;
        ~Stage() { std::filesystem::remove_all(path); }
    } stage { m_trace + "-stage" };
    bool installed = false;
    capture({ "cmake", "--install", BRIVANE_BUILD_DIR, "--prefix", stage.path }, &installed);
    ASSERT_TRUE(installed) << "cmake --install failed";
    std::filesystem::create_directories(stage.path + "/home/.config/brivane");
    std::ofstream(stage.path + "/home/.config/brivane/output")
        << "# chosen by the operator\nartnet:127.0.0.1:" << m_receiver.port() << "\n";
    // An empty DASHARD_OUTPUT counts as unset; the installed system file is all comments.
    start("", stage.path + "/bin/brivane",
          { { "HOME", stage.path + "/home" }, { "XDG_CONFIG_HOME", "" },
            { "XDG_CONFIG_DIRS", stage.path + "/etc/xdg" } });
    m_window->click(kToggleX, kToggleY);
    const auto frame = m_receiver.receive();
    ASSERT_TRUE(frame) << "nothing arrived on the port ~/.config/brivane/output names";
    EXPECT_EQ(frame->size(), 530u);
}

TEST_F(Console, AFaderDragReachesTheWireWithinOnePeriodOnItsChannel)
{
    startArtNet();
    m_window->click(kToggleX, kToggleY);
    ASSERT_TRUE(m_receiver.receive(1000));
    m_window->drag(faderX(5), kThumbAtBottomY, faderX(5), 100);
    drain();
    int before = -1;
    auto frame = awaitFrame([](const nettest::Packet &p) { return level(p, 5) == 255; }, &before);
    ASSERT_TRUE(frame) << "channel 5 never reached 255";
    // Counted from the end of the drag: the next frame carries it, or the one after when the
    // last move was still on its way through the X server.
    EXPECT_LE(before, 1);
    for (int channel = 1; channel <= 512; ++channel)
        if (channel != 5)
            ASSERT_EQ(level(*frame, channel), 0) << "channel " << channel;
}

TEST_F(Console, KeyboardStartsOnTheFirstFaderAndTabsPastTheThird)
{
    startArtNet();
    m_window->click(kToggleX, kToggleY);
    // Home on each fader in focus order: 1, then Tab to 2, then Tab to 4.
    m_window->keys({ "Home", "Tab", "Home", "Prior", "Tab", "Home", "Down", "Down" });
    auto frame = awaitFrame([](const nettest::Packet &p) { return level(p, 4) == 253; });
    ASSERT_TRUE(frame);
    EXPECT_EQ(level(*frame, 1), 255);
    EXPECT_EQ(level(*frame, 2), 255);
    EXPECT_EQ(level(*frame, 3), 0);
}

TEST_F(Console, EveryChannelIsReachableThroughThePagesAndKeepsItsLevel)
{
    startArtNet();
    m_window->click(kToggleX, kToggleY);
    // Each channel gets 255 minus (index mod 7): Home, then that many steps down.
    for (int n = 1; n <= 32; ++n) {
        // One page per xdotool call: the page button, then each fader in turn.
        std::vector<std::string> chain { "mousemove", "--window", m_window->id(),
                                         std::to_string(pageX(n)), std::to_string(pageY(n)), "click", "1" };
        for (int k = 1; k <= 16; ++k) {
            const int index = 16 * (n - 1) + k - 1;
            for (const std::string &arg : { std::string("mousemove"), std::string("--window"),
                                            m_window->id(), std::to_string(faderX(k)),
                                            std::to_string(kFaderGrooveY), std::string("click"),
                                            std::string("1"), std::string("key"), std::string("--delay"), std::string("2"), std::string("Home") })
                chain.push_back(arg);
            for (int i = 0; i < index % 7; ++i)
                chain.push_back("Down");
        }
        ASSERT_TRUE(m_window->xdo(chain));
    }
    drain();
    auto frame = m_receiver.receive(1000);
    ASSERT_TRUE(frame);
    for (int channel = 1; channel <= 512; ++channel)
        ASSERT_EQ(level(*frame, channel), 255 - (channel - 1) % 7) << "channel " << channel;

    // Clear: one all-zero frame right after the click, on top of the ticks.
    drain();
    m_window->click(kClearX, kClearY);
    auto cleared = awaitFrame([](const nettest::Packet &p) {
        for (int channel = 1; channel <= 512; ++channel)
            if (level(p, channel) != 0)
                return false;
        return true;
    });
    ASSERT_TRUE(cleared);
}

} // namespace
