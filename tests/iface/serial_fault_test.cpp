// Both serial outputs through the library's C entry: streaming, an unplugged device, and a
// fresh open once a device is back.
#include "dashard.h"
#include "frame_assert.h"
#include "pty_peer.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

class SerialDasCall : public testing::TestWithParam<std::string>
{
protected:
    void TearDown() override
    {
        DasCall(DAS_CMD_CLOSE, 0, nullptr);
        ::unsetenv("DASHARD_OUTPUT");
    }

    // Opens on `peer` and waits until it receives `levels`.
    void openAndStream(PtyPeer &peer, std::array<uint8_t, DAS_FRAME_SIZE> &levels)
    {
        ::setenv("DASHARD_OUTPUT", (GetParam() + ":" + peer.path()).c_str(), 1);
        ASSERT_EQ(DasCall(DAS_CMD_OPEN, 0, nullptr), DAS_OK);
        EXPECT_GE(DasCall(DAS_CMD_START, 0, nullptr), 0);
        ASSERT_EQ(DasCall(DAS_CMD_SEND, DAS_FRAME_SIZE, levels.data()), DAS_OK);
        // Either way the levels follow START code 0.
        EXPECT_TRUE(peer.waitFor([&](const auto &got) {
            const auto found
                = std::search(got.bytes.begin(), got.bytes.end(), levels.begin(), levels.end());
            return found != got.bytes.end() && found != got.bytes.begin() && found[-1] == 0;
        }));
    }
};

TEST_P(SerialDasCall, UnplugClosesTheOutputAndReplugOpensAgain)
{
    std::array<uint8_t, DAS_FRAME_SIZE> levels;
    for (size_t i = 0; i < levels.size(); ++i)
        levels[i] = uint8_t(1 + i % 255);
    auto peer = std::make_unique<PtyPeer>();
    openAndStream(*peer, levels);
    peer->unplug();
    EXPECT_EQ(DasCall(DAS_CMD_SEND, DAS_FRAME_SIZE, levels.data()), DAS_E_IO);
    EXPECT_EQ(DasCall(DAS_CMD_SEND, DAS_FRAME_SIZE, levels.data()), DAS_E_NOT_OPEN);

    peer = std::make_unique<PtyPeer>();
    levels[0] = 42;
    openAndStream(*peer, levels);
    EXPECT_EQ(DasCall(DAS_CMD_CLOSE, 0, nullptr), DAS_OK);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SerialDasCall, testing::Values("usbpro", "opendmx"),
    [](const auto &info) { return info.param == "usbpro" ? "UsbPro" : "OpenDmx"; });

} // namespace
