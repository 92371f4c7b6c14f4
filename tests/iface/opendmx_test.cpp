// The opendmx output: line settings and repeated packets on a pty, and the order of BREAK,
// mark and slots, and a failing write, through a recording line.
#include "backends/opendmx_output.h"
#include "dashard.h"
#include "frame_assert.h"
#include "pty_peer.h"

#include <gtest/gtest.h>
#include <termios.h>

namespace {

using namespace std::chrono_literals;
using Levels = std::array<uint8_t, das::kFrameSize>;

// No zero among the levels, so START code 0 marks where each packet begins.
Levels levelsFrom(uint8_t base)
{
    Levels levels;
    for (size_t i = 0; i < levels.size(); ++i)
        levels[i] = uint8_t(1 + (base + i) % 255);
    return levels;
}

// Whole 513-byte packets received so far that carry `levels`.
size_t packetsOf(const PtyPeer::Received &got, const Levels &levels)
{
    size_t n = 0;
    for (size_t at = 0; at + 513 <= got.bytes.size(); at += 513)
        n += got.bytes[at] == 0 && framesEqual(&got.bytes[at + 1], levels);
    return n;
}

TEST(OpenDmxOutput, LineAndRepeatedPackets)
{
    PtyPeer peer(false, false);
    das::OutputSpec spec;
    spec.kind = das::OutputKind::OpenDmx;
    spec.device = peer.path();
    std::string why;
    const auto output = das::openOpenDmx(spec, why);
    ASSERT_TRUE(output) << why;
    const auto [baud, cflag] = peer.line();
    EXPECT_EQ(baud, 250000u);
    EXPECT_EQ(cflag & CSIZE, unsigned(CS8));
    EXPECT_TRUE(cflag & CSTOPB);
    EXPECT_FALSE(cflag & PARENB);

    // Each packet is START code 0 and the latest levels, repeated without further sends.
    const Levels first = levelsFrom(0), second = levelsFrom(100);
    ASSERT_EQ(output->send(first), DAS_OK);
    ASSERT_TRUE(peer.waitFor([&](const auto &got) { return packetsOf(got, first) >= 3; }));
    ASSERT_EQ(output->send(second), DAS_OK);
    ASSERT_TRUE(peer.waitFor([&](const auto &got) { return packetsOf(got, second) >= 3; }));
    const auto got = peer.received();
    EXPECT_EQ(packetsOf(got, first) + packetsOf(got, second), got.bytes.size() / 513);
}

// Records what the writer does to the line; takes at most 200 bytes per write.
struct LineLog
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<char, std::vector<uint8_t>>> events; // B, M, P (pause µs in bytes), W
    bool failWrites = false;

    void add(char kind, std::vector<uint8_t> data = {})
    {
        std::lock_guard lock(mutex);
        events.emplace_back(kind, std::move(data));
        changed.notify_all();
    }
};

class RecordingLine final : public das::DmxLine
{
public:
    explicit RecordingLine(std::shared_ptr<LineLog> log)
        : m_log(std::move(log))
    {
    }
    int setBreak(bool on) override
    {
        m_log->add(on ? 'B' : 'M');
        return DAS_OK;
    }
    void pause(std::chrono::nanoseconds d) override
    {
        m_log->add('P', std::vector<uint8_t>(size_t(d.count() / 1000)));
    }
    int write(std::span<const uint8_t> bytes) override
    {
        const auto taken = bytes.first(std::min<size_t>(bytes.size(), 200));
        m_log->add('W', { taken.begin(), taken.end() });
        return m_log->failWrites ? DAS_E_IO : int(taken.size());
    }
    int waitWritable(std::chrono::milliseconds) override { return 1; }

private:
    std::shared_ptr<LineLog> m_log;
};

TEST(OpenDmxOutput, BreakThenMarkThenWholePacket)
{
    auto log = std::make_shared<LineLog>();
    auto output = das::makeOpenDmxOutput(std::make_unique<RecordingLine>(log));
    const Levels levels = levelsFrom(7);
    ASSERT_EQ(output->send(levels), DAS_OK);
    std::unique_lock lock(log->mutex);
    const auto &e = log->events;
    // Three breaks: two whole packets lie between them, the second one without a new send.
    ASSERT_TRUE(log->changed.wait_for(lock, 5s, [&] {
        return std::count_if(e.begin(), e.end(), [](auto &x) { return x.first == 'B'; }) >= 3;
    }));
    size_t at = 0;
    for (int packet = 0; packet < 2; ++packet) {
        ASSERT_GE(e.size(), at + 5);
        EXPECT_EQ(e[at].first, 'B');
        EXPECT_TRUE(e[at + 1].first == 'P' && e[at + 1].second.size() >= 92) << "BREAK too short";
        EXPECT_EQ(e[at + 2].first, 'M');
        EXPECT_TRUE(e[at + 3].first == 'P' && e[at + 3].second.size() >= 12) << "MAB too short";
        std::vector<uint8_t> slots;
        for (at += 4; at < e.size() && e[at].first == 'W'; ++at)
            slots.insert(slots.end(), e[at].second.begin(), e[at].second.end());
        ASSERT_EQ(slots.size(), 513u);
        EXPECT_EQ(slots[0], 0);
        EXPECT_TRUE(framesEqual(&slots[1], levels));
    }
}

TEST(OpenDmxOutput, WriterFailureReachesNextSend)
{
    auto log = std::make_shared<LineLog>();
    log->failWrites = true;
    auto output = das::makeOpenDmxOutput(std::make_unique<RecordingLine>(log));
    int result = output->send(levelsFrom(9));
    for (const auto end = std::chrono::steady_clock::now() + 5s;
         result == DAS_OK && std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(1ms))
        result = output->send(levelsFrom(9));
    EXPECT_EQ(result, DAS_E_IO);
}

} // namespace
