// The ola output and the olad check against a real olad, run by olad_harness.sh in a private
// network namespace: no daemon at all, a frame read back through OLA's own client, a daemon that
// dies and returns, and which universes the check finds.
#include "backends/ola_module.h"
#include "dashard.h"
#include "output_config.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <numeric>
#include <ola/Callback.h>
#include <ola/DmxBuffer.h>
#include <ola/client/ClientWrapper.h>
#include <thread>
#include <tuple>

namespace {

using namespace std::chrono_literals;

// One FetchDMX through a client of OLA's own.
struct Fetch
{
    void done(const ola::client::Result &result, const ola::client::DMXMetadata &,
        const ola::DmxBuffer &buffer)
    {
        levels = result.Success() ? buffer.Get() : "";
        client.GetSelectServer()->Terminate();
    }
    ola::client::OlaClientWrapper client { false };
    std::string levels;
};

// Whether olad holds `levels` in universe 1. It takes the stream and the fetch on separate
// connections, so the fetch is repeated a bounded number of times.
bool universe1Holds(const uint8_t *levels)
{
    for (int attempt = 0; attempt < 100; ++attempt, std::this_thread::sleep_for(20ms)) {
        Fetch fetch;
        ola::io::SelectServer *loop = fetch.client.GetSelectServer();
        if (!fetch.client.Setup())
            continue;
        fetch.client.GetClient()->FetchDMX(1, ola::NewSingleCallback(&fetch, &Fetch::done));
        loop->RegisterSingleTimeout(
            2000, ola::NewSingleCallback(loop, &ola::io::SelectServer::Terminate));
        loop->Run();
        if (fetch.levels == std::string(levels, levels + DAS_FRAME_SIZE))
            return true;
    }
    return false;
}

// checkOla for a DASHARD_OUTPUT value: the result, then its report and reason.
std::tuple<bool, std::string, std::string> check(const char *output)
{
    std::string report, why;
    const auto config = das::parseOutputConfig(output, why);
    const bool found = config && das::checkOla(*config, report, why);
    return { found, report, why };
}

TEST(OlaNoDaemon, OpenFailsAtOnceAndStartsNone)
{
    setenv("DASHARD_OUTPUT", "ola", 1);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_LT(DasCall(DAS_CMD_OPEN, 0, nullptr), 0);
    // A daemon started by the client itself takes about a second.
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
    const auto [found, report, why] = check("ola");
    EXPECT_FALSE(found);
    EXPECT_EQ(why, "olad is not running on 127.0.0.1:9010") << report;
    EXPECT_FALSE(ola::client::OlaClientWrapper(false).Setup()) << "a daemon was started";
}

// The harness's daemon has a port patched to universe 1 only.
TEST(OlaDaemon, CheckFindsThePatchedUniverseOnly)
{
    if (!std::getenv("DAS_OLAD_CONFIG"))
        GTEST_SKIP() << "needs the olad that olad_harness.sh starts";
    const struct
    {
        const char *output;
        bool found;
        const char *report;
    } cases[] = {
        { "ola", true, "olad answers on 127.0.0.1:9010; universe 1 exists (name \"" },
        { "ola@2", false,
            "olad answers on 127.0.0.1:9010 but has no universe 2: patch a port to it" },
    };
    for (const auto &c : cases) {
        const auto [found, report, why] = check(c.output);
        EXPECT_EQ(found, c.found) << c.output << ": " << why;
        EXPECT_TRUE(report.starts_with(c.report)) << report;
        EXPECT_EQ(why.empty(), c.found) << why;
    }
}

// Against the daemon olad_harness.sh starts; the harness also ends and restarts it for this case.
TEST(OlaDaemon, FrameReadsBackThenDeathFailsSendsAndARestartedDaemonOpens)
{
    if (!std::getenv("DAS_OLAD_CONFIG"))
        GTEST_SKIP() << "needs the olad that olad_harness.sh starts";
    // At its default action, a SIGPIPE from writing to the dead daemon would end this program.
    std::signal(SIGPIPE, SIG_DFL);
    setenv("DASHARD_OUTPUT", "ola", 1);
    ASSERT_EQ(DasCall(DAS_CMD_OPEN, 0, nullptr), DAS_OK);
    uint8_t levels[DAS_FRAME_SIZE]; // every byte value, 0 and 255 included
    std::iota(levels, levels + DAS_FRAME_SIZE, 0);
    ASSERT_EQ(DasCall(DAS_CMD_SEND, DAS_FRAME_SIZE, levels), DAS_OK);
    EXPECT_TRUE(universe1Holds(levels));

    ASSERT_EQ(std::system("bash \"$DAS_OLAD_HARNESS\" stop \"$DAS_OLAD_CONFIG\""), 0);
    int result = DAS_OK;
    for (int i = 0; i < 20 && result >= 0; ++i, std::this_thread::sleep_for(100ms))
        result = DasCall(DAS_CMD_SEND, DAS_FRAME_SIZE, levels);
    EXPECT_LT(result, 0);
    ASSERT_EQ(std::system("bash \"$DAS_OLAD_HARNESS\" start \"$DAS_OLAD_CONFIG\""), 0);
    ASSERT_EQ(DasCall(DAS_CMD_OPEN, 0, nullptr), DAS_OK);
    ASSERT_EQ(DasCall(DAS_CMD_SEND, DAS_FRAME_SIZE, levels), DAS_OK);
    EXPECT_TRUE(universe1Holds(levels));
    DasCall(DAS_CMD_CLOSE, 0, nullptr);
}

} // namespace
