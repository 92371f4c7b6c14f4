// Faults under the real program in a real X window: a USB Pro widget unplugged, olad killed, the
// Art-Net receiver gone, a trace file that cannot be written. In each the window keeps answering,
// the toggle says what happened, no level is lost, and the toggle brings the output back. The
// toggle's caption is read off the screen against crops of known states taken in the same server.
#include "desktop.h"
#include "faults_support.h"
#include "net_support.h"

#include <csignal>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

using namespace e2e;

// Channel 1 and channel 32 at the given levels, every other channel at 0.
bool only(const Levels &levels, int channel1, int channel32)
{
    for (std::size_t i = 0; i < levels.size(); ++i)
        if (levels[i] != (i == 0 ? channel1 : i == 31 ? channel32 : 0))
            return false;
    return true;
}

// Polls `holds` every 100 ms until it is true or `seconds` have passed.
bool within(double seconds, const std::function<bool()> &holds)
{
    for (auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);;) {
        if (holds())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(100ms);
    }
}

// The 512 levels of an ArtDmx datagram, or nothing for anything else.
std::optional<Levels> artDmxLevels(const std::optional<nettest::Packet> &packet)
{
    if (!packet || packet->size() != 530)
        return std::nullopt;
    Levels levels;
    std::copy(packet->begin() + 18, packet->end(), levels.begin());
    return levels;
}

// Whether one of the next 30 datagrams carries levels that satisfy `wanted`.
bool awaitArtDmx(nettest::UdpReceiver &receiver, const std::function<bool(const Levels &)> &wanted)
{
    for (int i = 0; i < 30; ++i) {
        const auto packet = receiver.receive(1000);
        if (!packet)
            return false;
        if (const auto levels = artDmxLevels(packet); levels && wanted(*levels))
            return true;
    }
    return false;
}

struct Tally
{
    int tried = 0, survived = 0, skipped = 0;
};
Tally g_tally;

class PrintTally : public ::testing::Environment
{
    void TearDown() override
    {
        std::printf("faults tried: %d, survived: %d, skipped: %d\n", g_tally.tried,
            g_tally.survived, g_tally.skipped);
    }
};
const auto *const g_printTally = ::testing::AddGlobalTestEnvironment(new PrintTally);

class Faults : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "no X server: these tests run under xvfb-run (Debian's xvfb)";
        ASSERT_FALSE(m_dir.empty());
        if (s_faces.empty())
            takeReferenceFaces();
    }
    void TearDown() override
    {
        if (m_program)
            EXPECT_EQ(stopProgram(), 128 + SIGTERM) << "the program ended before it was closed";
        if (IsSkipped())
            ++g_tally.skipped;
        else if (!m_fault.empty()) {
            ++g_tally.tried;
            g_tally.survived += !HasFailure();
            std::printf(
                "fault \"%s\": %s\n", m_fault.c_str(), HasFailure() ? "NOT survived" : "survived");
        }
        if (HasFailure()) {
            // Its head: a runaway program may say a lot.
            std::string said(64 << 10, '\0');
            std::ifstream err(m_dir + "/stderr");
            said.resize(std::size_t(err.read(said.data(), std::streamsize(said.size())).gcount()));
            std::cout << "the program's stderr:\n" << said << std::flush;
        }
    }

    // Starts the program as a user does, its stderr kept in a file and Qt's runtime folder in
    // the test's own, behind `prefix` if any.
    [[nodiscard]] bool launch(const std::string &output, const std::string &trace,
        const std::vector<std::string> &prefix = {})
    {
        // Qt wants its runtime folder private; the olad case opens the test's to nobody.
        mkdir((m_dir + "/run").c_str(), 0700);
        std::vector<std::string> argv = prefix;
        argv.insert(
            argv.end(), { "sh", "-c", "exec \"$0\" 2>>\"$1\"", BRIVANE_EXE, m_dir + "/stderr" });
        m_program = std::make_unique<e2e::Process>(argv,
            std::map<std::string, std::string> {
                { "DASHARD_OUTPUT", output }, { "DASHARD_TRACE", trace },
                { "XDG_RUNTIME_DIR", m_dir + "/run" } });
        m_window = std::make_unique<e2e::Window>(e2e::Window::find("Brivane"));
        EXPECT_TRUE(m_window->ok()) << "no window titled Brivane appeared";
        return m_window->ok();
    }
    int stopProgram()
    {
        const int status = m_program->stop();
        m_program.reset();
        m_window.reset();
        return status;
    }
    void clickToggle() { m_window->click(kToggleX, kToggleY); }

    // The toggle as the screen shows it, with the pointer parked away: a flat button shows a
    // face only under the pointer.
    std::string toggleFace() const
    {
        m_window->xdo({ "mousemove", "--window", m_window->id(), "20", "420" });
        return e2e::capture(
            { "import", "-window", m_window->id(), "-crop", "78x25+3+8", "+repage", "ppm:-" });
    }
    // The face once it differs from `before` and has stopped changing.
    std::string settledFace(const std::string &before) const
    {
        std::string last;
        for (int i = 0; i < 50; ++i, std::this_thread::sleep_for(100ms)) {
            std::string face = toggleFace();
            if (!face.empty() && face == last && face != before)
                return face;
            last = face;
        }
        return {};
    }
    void takeReferenceFaces()
    {
        // A failed open shows "DAS NG" and its release "DAS OFF"; an open that works "DAS OK".
        std::map<std::string, std::string> faces;
        ASSERT_TRUE(launch("none", ""));
        const std::string first = toggleFace();
        clickToggle();
        faces["DAS NG"] = settledFace(first);
        clickToggle();
        faces["DAS OFF"] = settledFace(faces["DAS NG"]);
        stopProgram();
        nettest::UdpReceiver receiver;
        ASSERT_TRUE(launch("artnet:127.0.0.1:" + std::to_string(receiver.port()), ""));
        clickToggle();
        faces["DAS OK"] = settledFace(first);
        stopProgram();
        ASSERT_FALSE(
            faces["DAS NG"].empty() || faces["DAS OFF"].empty() || faces["DAS OK"].empty());
        ASSERT_NE(faces["DAS NG"], faces["DAS OK"]);
        ASSERT_NE(faces["DAS OFF"], faces["DAS OK"]);
        s_faces = faces;
    }
    // Whether the toggle shows `caption` within `seconds`.
    bool shows(const std::string &caption, double seconds = 5) const
    {
        return within(seconds, [&] { return toggleFace() == s_faces.at(caption); });
    }
    std::string showing() const
    {
        const std::string face = toggleFace();
        for (const auto &[caption, known] : s_faces)
            if (face == known)
                return "the toggle shows " + caption;
        return "the toggle shows none of the known captions";
    }

    // Channel 1 to full on page 1, then channel 32 to one step below full on page 2.
    void setLevels()
    {
        m_window->click(faderX(1), kFaderGrooveY);
        m_window->keys({ "Home" });
        m_window->click(pageX(2), pageY(2));
        m_window->click(faderX(16), kFaderGrooveY);
        m_window->keys({ "Home", "Down" });
    }
    // Whether a frame whose levels are `channel1`/`channel32` is traced within 3 s after line
    // `from`, with `result` unless that is null.
    bool traced(int channel1, int channel32, std::optional<int> result, std::size_t from = 0) const
    {
        return within(3, [&] {
            const auto lines = readTrace(m_trace);
            for (std::size_t i = from; i < lines.size(); ++i)
                if (lines[i].levels && only(*lines[i].levels, channel1, channel32)
                    && (!result || lines[i].result == *result))
                    return true;
            return false;
        });
    }
    // Release, then press again: the way back after "DAS NG".
    void recoverThroughTheToggle()
    {
        clickToggle();
        EXPECT_TRUE(shows("DAS OFF")) << showing();
        clickToggle();
        EXPECT_TRUE(shows("DAS OK")) << showing();
    }

    static std::map<std::string, std::string> s_faces;
    e2e::TempFolder m_folder { "brivane-faults" };
    const std::string m_dir = m_folder.path(), m_trace = m_dir + "/trace";
    std::string m_fault;
    std::unique_ptr<e2e::Process> m_program;
    std::unique_ptr<e2e::Window> m_window;
};

std::map<std::string, std::string> Faults::s_faces;

TEST_F(Faults, UsbProWidgetUnpluggedThenPluggedBackIn)
{
    e2e::PtyWidget widget(m_dir + "/widget");
    ASSERT_TRUE(widget.plug());
    ASSERT_TRUE(launch("usbpro:" + widget.path(), m_trace));
    clickToggle();
    ASSERT_TRUE(shows("DAS OK")) << showing();
    setLevels();
    ASSERT_TRUE(within(3, [&] {
        const auto frames = widget.frames();
        return !frames.empty() && only(frames.back(), 255, 254);
    })) << "the levels never reached the widget";

    m_fault = "USB Pro widget unplugged";
    widget.unplug();
    EXPECT_TRUE(shows("DAS NG")) << showing();
    m_window->keys({ "Down" });
    EXPECT_TRUE(traced(255, 253, std::nullopt))
        << "a key press while unplugged never reached the trace";

    ASSERT_TRUE(widget.plug());
    recoverThroughTheToggle();
    EXPECT_TRUE(within(3, [&] { return widget.frames().size() >= 5; })) << "frames do not flow";
    ASSERT_FALSE(widget.frames().empty());
    EXPECT_TRUE(only(widget.frames().front(), 255, 253)) << "a level was lost";
}

TEST_F(Faults, OladKilledThenStartedAgain)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: olad runs as nobody inside a private network namespace";
    for (const char *tool : { "unshare", "nsenter", "setpriv", "ip", "olad" })
        if (std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()) != 0)
            GTEST_SKIP() << "'" << tool << "' is not installed";
    e2e::PrivateNetwork network(m_dir);
    if (!network.ok())
        GTEST_SKIP() << "cannot create a network namespace here";
    // A locked-down daemon: no plugin but the Dummy one, its output port on universe 1.
    // olad runs as nobody, so its folder inside this test's is reachable.
    const std::string cfg = m_dir + "/olad";
    ASSERT_EQ(chmod(m_dir.c_str(), 0711), 0);
    ASSERT_EQ(mkdir(cfg.c_str(), 0700), 0);
    for (const char *name : { "artnet", "e131", "espnet", "ftdidmx", "gpio", "karate", "kinet",
             "milinst", "opendmx", "openpixelcontrol", "osc", "pathport", "renard", "sandnet",
             "shownet", "spi", "stageprofi", "uartdmx", "usbdmx", "usbserial" })
        std::ofstream(cfg + "/ola-" + name + ".conf") << "enabled = false\n";
    std::ofstream(cfg + "/ola-port.conf") << "1-1-O-0 = 1\n";
    ASSERT_EQ(std::system(("chown -R nobody:nogroup " + cfg).c_str()), 0);
    const auto olad = [&](const char *command) {
        std::vector<std::string> argv = network.enter();
        argv.insert(argv.end(), { "bash", OLAD_HARNESS, command, cfg });
        bool ok = false;
        e2e::capture(argv, &ok);
        return ok;
    };
    struct Cleanup
    {
        std::function<void()> run;
        ~Cleanup() { run(); }
    } cleanup { [&] { olad("stop"); } };

    ASSERT_TRUE(olad("start"));
    ASSERT_TRUE(launch("ola@1", m_trace, network.enter()));
    clickToggle();
    ASSERT_TRUE(shows("DAS OK")) << showing();
    setLevels();
    ASSERT_TRUE(traced(255, 254, 0)) << "the levels never went to olad";

    m_fault = "olad killed";
    ASSERT_TRUE(olad("stop"));
    EXPECT_TRUE(shows("DAS NG")) << showing();
    m_window->keys({ "Down" });
    EXPECT_TRUE(traced(255, 253, std::nullopt))
        << "a key press with olad gone never reached the trace";

    ASSERT_TRUE(olad("start"));
    recoverThroughTheToggle();
    // The first frame after the last open that worked carries every level, and more follow.
    std::vector<TraceLine> sent;
    EXPECT_TRUE(within(3, [&] {
        sent.clear();
        bool open = false;
        for (const TraceLine &line : readTrace(m_trace)) {
            if (line.command == 1) {
                open = line.result == 0;
                sent.clear();
            }
            open = open && line.command != 2;
            if (open && line.command == 4)
                sent.push_back(line);
        }
        return sent.size() >= 5;
    })) << "frames do not flow once olad is back";
    ASSERT_FALSE(sent.empty());
    EXPECT_TRUE(sent.front().levels && only(*sent.front().levels, 255, 253)) << "a level was lost";
    for (const TraceLine &line : sent)
        EXPECT_EQ(line.result, 0);
}

TEST_F(Faults, ArtNetReceiverGoneIsNoFailure)
{
    auto receiver = std::make_unique<nettest::UdpReceiver>();
    ASSERT_TRUE(receiver->ok());
    const uint16_t port = receiver->port();
    ASSERT_TRUE(launch("artnet:127.0.0.1:" + std::to_string(port), m_trace));
    clickToggle();
    ASSERT_TRUE(shows("DAS OK")) << showing();
    setLevels();
    ASSERT_TRUE(awaitArtDmx(*receiver, [](const Levels &l) { return only(l, 255, 254); }));

    m_fault = "Art-Net receiver gone";
    receiver.reset();
    const std::size_t goneFrom = readTrace(m_trace).size();
    // UDP promises no delivery: nobody listening is no failure, and the sends go on.
    EXPECT_TRUE(within(3, [&] {
        int sent = 0;
        const auto lines = readTrace(m_trace);
        for (std::size_t i = goneFrom; i < lines.size(); ++i)
            sent += lines[i].command == 4 && lines[i].result == 0;
        return sent >= 10;
    })) << "sends stopped or failed once the receiver was gone";
    EXPECT_TRUE(shows("DAS OK", 0)) << showing();
    m_window->keys({ "Down" });
    EXPECT_TRUE(traced(255, 253, 0, goneFrom)) << "a key press with the receiver gone was not sent";

    receiver = std::make_unique<nettest::UdpReceiver>(port);
    ASSERT_TRUE(receiver->ok()) << "port " << port << " was taken meanwhile";
    const auto first = artDmxLevels(receiver->receive(1000));
    ASSERT_TRUE(first) << "nothing reached the receiver once it was back";
    EXPECT_TRUE(only(*first, 255, 253)) << "a level was lost";
    recoverThroughTheToggle();
    EXPECT_TRUE(receiver->drain()) << "the frames never paused";
    EXPECT_TRUE(awaitArtDmx(*receiver, [](const Levels &l) { return only(l, 255, 253); }));
}

TEST_F(Faults, UnwritableTraceCostsOneLineAndNothingElse)
{
    nettest::UdpReceiver receiver;
    ASSERT_TRUE(receiver.ok());
    m_fault = "trace file unwritable";
    // A directory cannot be opened for writing, not even by root.
    ASSERT_TRUE(launch("artnet:127.0.0.1:" + std::to_string(receiver.port()), m_dir));
    clickToggle();
    EXPECT_TRUE(shows("DAS OK")) << showing();
    setLevels();
    EXPECT_TRUE(awaitArtDmx(receiver, [](const Levels &l) { return only(l, 255, 254); }))
        << "the key presses did not reach the wire";
    EXPECT_EQ(stopProgram(), 128 + SIGTERM) << "the program ended before it was closed";

    std::ifstream err(m_dir + "/stderr");
    std::vector<std::string> said;
    for (std::string line; std::getline(err, line);)
        if (line.rfind("dashard:", 0) == 0)
            said.push_back(line);
    ASSERT_EQ(said.size(), 1u) << "the library said more or less than one line";
    EXPECT_NE(said[0].find("trace"), std::string::npos) << said[0];
    EXPECT_NE(said[0].find(m_dir), std::string::npos) << said[0];
}

} // namespace
