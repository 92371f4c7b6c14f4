// The dispatcher's handling of one output's life: open replaces, close says goodbye once, a
// failing output is dropped, a bad call changes nothing. Outputs here are recording fakes.
#include "dashard.h"
#include "dispatcher.h"
#include "net_support.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

using Log = std::vector<std::string>;

class FakeOutput final : public das::Backend
{
public:
    FakeOutput(int id, Log &log, int &sendResult)
        : m_id(id)
        , m_log(log)
        , m_sendResult(sendResult)
    {
    }
    ~FakeOutput() override { note("destroy"); }
    int start() override
    {
        note("start");
        return m_sendResult;
    }
    int send(das::Frame frame) override
    {
        note("send " + std::to_string(frame[0]));
        return m_sendResult;
    }
    void stop() override { note("stop"); }

private:
    void note(const std::string &what) { m_log.push_back(what + " #" + std::to_string(m_id)); }
    int m_id;
    Log &m_log;
    int &m_sendResult;
};

class DispatcherTest : public ::testing::Test
{
protected:
    void SetUp() override { setenv("DASHARD_OUTPUT", "artnet", 1); }
    void TearDown() override { unsetenv("DASHARD_OUTPUT"); }

    Log log;
    int opened = 0;
    int result = DAS_OK;
    bool refuse = false;
    nettest::Levels frame = nettest::patternFrame(0);
    // Last, so its output is destroyed while the log it writes to still exists.
    das::Dispatcher dispatcher { [this](const das::OutputSpec &,
                                     std::string &why) -> std::unique_ptr<das::Backend> {
        ++opened;
        log.push_back("open #" + std::to_string(opened));
        if (refuse) {
            why = "refused for the test";
            return nullptr;
        }
        return std::make_unique<FakeOutput>(opened, log, result);
    } };
};

TEST_F(DispatcherTest, FailedSendDropsTheOutputUntilTheNextOpen)
{
    ASSERT_EQ(dispatcher.call(DAS_CMD_OPEN, 0, nullptr), DAS_OK);
    result = DAS_E_IO;
    EXPECT_EQ(dispatcher.call(DAS_CMD_SEND, 512, frame.data()), DAS_E_IO);
    EXPECT_FALSE(dispatcher.isOpen());
    EXPECT_EQ(dispatcher.call(DAS_CMD_SEND, 512, frame.data()), DAS_E_NOT_OPEN);
    EXPECT_EQ(dispatcher.call(DAS_CMD_START, 0, nullptr), DAS_E_NOT_OPEN);
    EXPECT_EQ(dispatcher.call(DAS_CMD_CLOSE, 0, nullptr), DAS_OK);
    // A failed output gets no goodbye: it is destroyed right after the failing send.
    EXPECT_EQ(log, (Log { "open #1", "send 0 #1", "destroy #1" }));

    result = DAS_OK;
    EXPECT_EQ(dispatcher.call(DAS_CMD_OPEN, 0, nullptr), DAS_OK);
    EXPECT_EQ(dispatcher.call(DAS_CMD_SEND, 512, frame.data()), DAS_OK);
    EXPECT_EQ(log.back(), "send 0 #2");
}

TEST_F(DispatcherTest, FailedStartDropsTheOutput)
{
    ASSERT_EQ(dispatcher.call(DAS_CMD_OPEN, 0, nullptr), DAS_OK);
    result = DAS_E_IO;
    EXPECT_EQ(dispatcher.call(DAS_CMD_START, 0, nullptr), DAS_E_IO);
    EXPECT_EQ(dispatcher.call(DAS_CMD_SEND, 512, frame.data()), DAS_E_NOT_OPEN);
}

TEST_F(DispatcherTest, CloseStopsThenDestroysOnceAndIsHarmlessAfterwards)
{
    ASSERT_EQ(dispatcher.call(DAS_CMD_OPEN, 0, nullptr), DAS_OK);
    EXPECT_EQ(dispatcher.call(DAS_CMD_CLOSE, 0, nullptr), DAS_OK);
    EXPECT_EQ(dispatcher.call(DAS_CMD_CLOSE, 0, nullptr), DAS_OK);
    EXPECT_EQ(log, (Log { "open #1", "stop #1", "destroy #1" }));
}

TEST_F(DispatcherTest, OpenWhileOpenClosesTheOldOutputFirst)
{
    ASSERT_EQ(dispatcher.call(DAS_CMD_OPEN, 0, nullptr), DAS_OK);
    ASSERT_EQ(dispatcher.call(DAS_CMD_OPEN, 0, nullptr), DAS_OK);
    // The old one must be gone before the new one opens: a serial device admits one owner.
    EXPECT_EQ(log, (Log { "open #1", "stop #1", "destroy #1", "open #2" }));
}

TEST_F(DispatcherTest, BadCallsChangeNothing)
{
    ASSERT_EQ(dispatcher.call(DAS_CMD_OPEN, 0, nullptr), DAS_OK);
    const Log before = log;
    EXPECT_EQ(dispatcher.call(DAS_CMD_OPEN, 1, nullptr), DAS_E_ARGUMENT);
    EXPECT_EQ(dispatcher.call(DAS_CMD_CLOSE, 512, frame.data()), DAS_E_ARGUMENT);
    EXPECT_EQ(dispatcher.call(DAS_CMD_START, -1, nullptr), DAS_E_ARGUMENT);
    EXPECT_EQ(dispatcher.call(DAS_CMD_SEND, 511, frame.data()), DAS_E_ARGUMENT);
    EXPECT_EQ(dispatcher.call(DAS_CMD_SEND, 512, nullptr), DAS_E_ARGUMENT);
    EXPECT_EQ(dispatcher.call(5, 0, nullptr), DAS_E_COMMAND);
    EXPECT_EQ(log, before);
    EXPECT_TRUE(dispatcher.isOpen());
}

TEST_F(DispatcherTest, RefusedOpenSaysWhyOnOneLine)
{
    refuse = true;
    setenv("DASHARD_OUTPUT", "usbpro:/dev/ttyUSB9", 1);
    nettest::StderrCapture capture;
    EXPECT_EQ(dispatcher.call(DAS_CMD_OPEN, 0, nullptr), DAS_E_UNAVAILABLE);
    const auto lines = nettest::splitLines(capture.text());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(
        lines[0], "dashard: cannot open output \"usbpro:/dev/ttyUSB9\": refused for the test");
    EXPECT_FALSE(dispatcher.isOpen());
}

TEST_F(DispatcherTest, MalformedValueNeverReachesAnOutput)
{
    setenv("DASHARD_OUTPUT", "sacn@0", 1);
    nettest::StderrCapture capture;
    EXPECT_EQ(dispatcher.call(DAS_CMD_OPEN, 0, nullptr), DAS_E_CONFIG);
    capture.text();
    EXPECT_EQ(opened, 0);
}

} // namespace
