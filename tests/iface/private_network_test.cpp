// Outputs that need well-known ports, multicast or broadcast, each run through DasCall in a
// forked child with its own network namespace, so nothing leaves that child.
#include "dashard.h"
#include "packet_checks.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>

using namespace nettest;

namespace {

std::string failure(const ::testing::AssertionResult &result, const std::string &where)
{
    return result ? std::string() : where + ": " + result.message();
}

// Opens DASHARD_OUTPUT=`value` (unset when null), sends `frames` frames and checks each packet
// with `check(packet, index, levels)`; then closes.
std::string sendAndCheck(const char *value, UdpReceiver &receiver, int frames,
    const std::function<::testing::AssertionResult(const Packet &, int, const Levels &)> &check)
{
    if (!receiver.ok())
        return "receiver could not bind";
    if (value)
        setenv("DASHARD_OUTPUT", value, 1);
    else
        unsetenv("DASHARD_OUTPUT");
    if (const int opened = DasCall(DAS_CMD_OPEN, 0, nullptr); opened < 0)
        return "open returned " + std::to_string(opened);
    for (int i = 0; i < frames; ++i) {
        Levels levels = patternFrame(static_cast<uint8_t>(i));
        if (const int sent = DasCall(DAS_CMD_SEND, 512, levels.data()); sent < 0)
            return "send returned " + std::to_string(sent);
        auto packet = receiver.receive();
        if (!packet)
            return "frame " + std::to_string(i) + " did not arrive";
        if (auto message = failure(check(*packet, i, levels), "frame " + std::to_string(i));
            !message.empty())
            return message;
    }
    return {};
}

TEST(PrivateNetwork, SacnWithoutHostMulticastsToTheUniverseGroup)
{
    EXPECT_CHILD_PASSED(runInPrivateNetwork([] {
        UdpReceiver receiver(5568, INADDR_ANY);
        if (!receiver.joinGroup(0xefff0001)) // 239.255.0.1, universe 1
            return std::string("cannot join 239.255.0.1");
        auto message
            = sendAndCheck("sacn", receiver, 3, [](const Packet &p, int i, const Levels &l) {
                  return isSacnData(p,
                      { .sequence = uint8_t(i), .options = 0, .universe = { 0, 1 }, .levels = &l });
              });
        if (!message.empty())
            return message;
        DasCall(DAS_CMD_CLOSE, 0, nullptr);
        for (uint8_t sequence = 3; sequence < 6; ++sequence) {
            auto packet = receiver.receive();
            if (!packet)
                return "terminated packet " + std::to_string(sequence) + " missing";
            message = failure(isSacnData(*packet,
                                  { .sequence = sequence, .options = 0x40, .universe = { 0, 1 } }),
                "terminated packet");
            if (!message.empty())
                return message;
        }
        return receiver.receive(300) ? std::string("a packet after the terminated ones")
                                     : std::string();
    }));
}

TEST(PrivateNetwork, SacnWithHostUnicastsToPort5568)
{
    EXPECT_CHILD_PASSED(runInPrivateNetwork([] {
        UdpReceiver receiver(5568);
        auto message = sendAndCheck(
            "sacn:127.0.0.1@300", receiver, 2, [](const Packet &p, int i, const Levels &l) {
                return isSacnData(p,
                    { .sequence = uint8_t(i),
                        .options = 0,
                        .universe = { 0x01, 0x2c },
                        .levels = &l });
            });
        DasCall(DAS_CMD_CLOSE, 0, nullptr);
        return message;
    }));
}

TEST(PrivateNetwork, ArtNetToABroadcastAddressReachesListeners)
{
    EXPECT_CHILD_PASSED(runInPrivateNetwork([] {
        UdpReceiver receiver(6454, INADDR_ANY);
        auto message = sendAndCheck(
            "artnet:127.255.255.255@1", receiver, 2, [](const Packet &p, int i, const Levels &l) {
                return isArtDmx(p, { 1, 0 }, uint8_t(i + 1), l);
            });
        DasCall(DAS_CMD_CLOSE, 0, nullptr);
        return message;
    }));
}

TEST(PrivateNetwork, UnsetVariableMeansArtNetToLoopbackPortAddressZero)
{
    EXPECT_CHILD_PASSED(runInPrivateNetwork([] {
        UdpReceiver receiver(6454);
        auto message
            = sendAndCheck(nullptr, receiver, 2, [](const Packet &p, int i, const Levels &l) {
                  return isArtDmx(p, { 0, 0 }, uint8_t(i + 1), l);
              });
        DasCall(DAS_CMD_CLOSE, 0, nullptr);
        return message;
    }));
}

} // namespace
