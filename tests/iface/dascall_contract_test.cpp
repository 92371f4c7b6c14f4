// The C contract of libdashard, called through DasCall as the program calls it: argument codes,
// closed-state results, DASHARD_OUTPUT handling with its one stderr line, frames reaching a
// receiver, concurrent callers, and the single exported symbol.
#include "dashard.h"
#include "output_spec.h"
#include "packet_checks.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <set>
#include <thread>

using namespace nettest;

namespace {

class DasCallTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DasCall(DAS_CMD_CLOSE, 0, nullptr);
        unsetenv("DASHARD_OUTPUT");
    }
    void TearDown() override
    {
        DasCall(DAS_CMD_CLOSE, 0, nullptr);
        unsetenv("DASHARD_OUTPUT");
    }

    static void aimAt(const UdpReceiver &receiver, const std::string &suffix = "")
    {
        const std::string value = "artnet:127.0.0.1:" + std::to_string(receiver.port()) + suffix;
        setenv("DASHARD_OUTPUT", value.c_str(), 1);
    }

    // Opens with the current DASHARD_OUTPUT and returns the result and the stderr lines.
    static std::pair<int, std::vector<std::string>> openCapturing()
    {
        StderrCapture capture;
        const int result = DasCall(DAS_CMD_OPEN, 0, nullptr);
        return { result, splitLines(capture.text()) };
    }

    Levels frame = patternFrame(11);
};

struct BadCall
{
    int32_t command;
    int32_t length;
    bool withBuffer;
    int32_t expected;
};

void PrintTo(const BadCall &c, std::ostream *os)
{
    *os << "command " << c.command << " length " << c.length
        << (c.withBuffer ? " buffer" : " null");
}

class DasCallBadArguments : public DasCallTest, public ::testing::WithParamInterface<BadCall>
{
};

TEST_P(DasCallBadArguments, GetsItsOwnCodeAndChangesNothing)
{
    UdpReceiver receiver;
    aimAt(receiver);
    ASSERT_GE(DasCall(DAS_CMD_OPEN, 0, nullptr), 0);

    const BadCall &c = GetParam();
    EXPECT_EQ(DasCall(c.command, c.length, c.withBuffer ? frame.data() : nullptr), c.expected);

    // Still open, and nothing was sent: the next frame is the first on the wire.
    ASSERT_GE(DasCall(DAS_CMD_SEND, 512, frame.data()), 0);
    auto packet = receiver.receive();
    ASSERT_TRUE(packet);
    EXPECT_TRUE(isArtDmx(*packet, { 0, 0 }, 1, frame));
}

INSTANTIATE_TEST_SUITE_P(Edges, DasCallBadArguments,
    ::testing::Values(BadCall { 0, 0, false, DAS_E_COMMAND },
        BadCall { 5, 0, false, DAS_E_COMMAND }, BadCall { -1, 0, false, DAS_E_COMMAND },
        BadCall { 5, 512, true, DAS_E_COMMAND }, BadCall { 1, 1, false, DAS_E_ARGUMENT },
        BadCall { 1, 512, true, DAS_E_ARGUMENT }, BadCall { 2, -1, false, DAS_E_ARGUMENT },
        BadCall { 2, 512, true, DAS_E_ARGUMENT }, BadCall { 3, 1, true, DAS_E_ARGUMENT },
        BadCall { 4, 0, true, DAS_E_ARGUMENT }, BadCall { 4, 511, true, DAS_E_ARGUMENT },
        BadCall { 4, 513, true, DAS_E_ARGUMENT }, BadCall { 4, -512, true, DAS_E_ARGUMENT },
        BadCall { 4, 512, false, DAS_E_ARGUMENT }));

TEST_F(DasCallTest, ClosedOutputSendsNothingAndSaysSo)
{
    EXPECT_EQ(DasCall(DAS_CMD_SEND, 512, frame.data()), DAS_E_NOT_OPEN);
    EXPECT_EQ(DasCall(DAS_CMD_START, 0, nullptr), DAS_E_NOT_OPEN);
    EXPECT_GE(DasCall(DAS_CMD_CLOSE, 0, nullptr), 0);
    EXPECT_GE(DasCall(DAS_CMD_CLOSE, 0, nullptr), 0);
    // A buffer is not looked at when the length is 0.
    EXPECT_GE(DasCall(DAS_CMD_CLOSE, 0, frame.data()), 0);
}

TEST_F(DasCallTest, FramesReachTheConfiguredReceiver)
{
    UdpReceiver receiver;
    aimAt(receiver, "@5");
    ASSERT_GE(DasCall(DAS_CMD_OPEN, 0, nullptr), 0);
    ASSERT_GE(DasCall(DAS_CMD_START, 0, nullptr), 0);
    for (uint8_t i = 1; i <= 3; ++i) {
        frame = patternFrame(i);
        ASSERT_GE(DasCall(DAS_CMD_SEND, 512, frame.data()), 0);
        auto packet = receiver.receive();
        ASSERT_TRUE(packet);
        EXPECT_TRUE(isArtDmx(*packet, { 5, 0 }, i, frame));
    }
    ASSERT_GE(DasCall(DAS_CMD_CLOSE, 0, nullptr), 0);
    EXPECT_EQ(DasCall(DAS_CMD_SEND, 512, frame.data()), DAS_E_NOT_OPEN);
    EXPECT_FALSE(receiver.receive(300));
}

TEST_F(DasCallTest, EachOpenReadsTheVariableAgain)
{
    UdpReceiver first;
    UdpReceiver second;
    aimAt(first);
    ASSERT_GE(DasCall(DAS_CMD_OPEN, 0, nullptr), 0);
    aimAt(second);
    ASSERT_GE(DasCall(DAS_CMD_OPEN, 0, nullptr), 0);
    ASSERT_GE(DasCall(DAS_CMD_SEND, 512, frame.data()), 0);
    auto packet = second.receive();
    ASSERT_TRUE(packet);
    // A new output: its sequence starts over.
    EXPECT_TRUE(isArtDmx(*packet, { 0, 0 }, 1, frame));
    EXPECT_FALSE(first.receive(300));
}

TEST_F(DasCallTest, NoneOpensNothingAndSaysSoOnce)
{
    setenv("DASHARD_OUTPUT", "none", 1);
    const auto [result, lines] = openCapturing();
    EXPECT_EQ(result, DAS_E_UNAVAILABLE);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("dashard: cannot open output \"none\": ", 0), 0u) << lines[0];
    EXPECT_EQ(DasCall(DAS_CMD_SEND, 512, frame.data()), DAS_E_NOT_OPEN);
}

TEST_F(DasCallTest, MalformedValueIsNamedWithTheAcceptedForms)
{
    setenv("DASHARD_OUTPUT", "artnet:1.2.3:99999", 1);
    const auto [result, lines] = openCapturing();
    EXPECT_EQ(result, DAS_E_CONFIG);
    ASSERT_EQ(lines.size(), 1u);
    const std::string &line = lines[0];
    EXPECT_EQ(
        line.rfind("dashard: bad DASHARD_OUTPUT \"artnet:1.2.3:99999\": port out of range", 0), 0u)
        << line;
    const std::string forms = "(accepted forms: " + std::string(das::kOutputForms) + ")";
    EXPECT_TRUE(line.ends_with(forms)) << line;
}

TEST_F(DasCallTest, UnknownKindIsAConfigurationError)
{
    setenv("DASHARD_OUTPUT", "dmx4all:/dev/ttyACM0", 1);
    const auto [result, lines] = openCapturing();
    EXPECT_EQ(result, DAS_E_CONFIG);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("unknown output kind \"dmx4all\""), std::string::npos) << lines[0];
}

TEST_F(DasCallTest, FailedOpenLeavesNothingOpen)
{
    UdpReceiver receiver;
    aimAt(receiver);
    ASSERT_GE(DasCall(DAS_CMD_OPEN, 0, nullptr), 0);
    setenv("DASHARD_OUTPUT", "sacn@0", 1);
    EXPECT_EQ(openCapturing().first, DAS_E_CONFIG);
    EXPECT_EQ(DasCall(DAS_CMD_SEND, 512, frame.data()), DAS_E_NOT_OPEN);
    EXPECT_FALSE(receiver.receive(300));
}

TEST_F(DasCallTest, EmptyValueMeansTheDefaultOutput)
{
    setenv("DASHARD_OUTPUT", "", 1);
    const auto [result, lines] = openCapturing();
    EXPECT_GE(result, 0);
    EXPECT_TRUE(lines.empty());
}

TEST_F(DasCallTest, ConcurrentCallersNeitherCrashNorTearFrames)
{
    UdpReceiver receiver;
    aimAt(receiver);
    constexpr int kCallers = 4;
    std::array<Levels, kCallers> frames;
    for (int t = 0; t < kCallers; ++t)
        frames[t] = patternFrame(static_cast<uint8_t>(40 * t));
    std::atomic<int> unexpected { 0 };
    std::vector<std::thread> callers;
    for (int t = 0; t < kCallers; ++t)
        callers.emplace_back([&, t] {
            Levels own = frames[t];
            // Opens and closes race with sends on the other threads.
            for (int i = 0; i < 2000; ++i) {
                const int command = i % 4 == 0 ? DAS_CMD_OPEN
                    : i % 4 == 3               ? DAS_CMD_CLOSE
                                               : DAS_CMD_SEND;
                const int32_t length = command == DAS_CMD_SEND ? 512 : 0;
                const int result = DasCall(command, length, own.data());
                if (result < 0 && result != DAS_E_NOT_OPEN)
                    ++unexpected;
            }
        });
    for (auto &caller : callers)
        caller.join();
    EXPECT_EQ(unexpected.load(), 0);

    // Every packet that got through carries one caller's whole frame.
    int packets = 0;
    while (auto packet = receiver.receive(0)) {
        ++packets;
        ASSERT_EQ(packet->size(), 530u);
        const std::span<const uint8_t> data(packet->data() + 18, 512);
        const bool whole = std::any_of(frames.begin(), frames.end(),
            [&](const Levels &f) { return std::equal(f.begin(), f.end(), data.begin()); });
        ASSERT_TRUE(whole) << "packet " << packets << " mixes two callers' frames";
    }
    EXPECT_GT(packets, 0);
}

TEST(DashardLibrary, ExportsOnlyDasCall)
{
    const std::string command = std::string("nm -D --defined-only '") + DASHARD_PATH + "'";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        char type = 0;
        char name[400] = {};
        // "ADDRESS TYPE NAME[@@VERSION]"; type A marks the version node, not a symbol.
        if (std::sscanf(line, "%*s %c %399s", &type, name) == 2 && type != 'A')
            exported.insert(std::string(name).substr(0, std::string(name).find('@')));
    }
    ASSERT_EQ(pclose(pipe), 0) << command;
    EXPECT_EQ(exported, std::set<std::string> { "DasCall" });
}

} // namespace
