// The DASHARD_TRACE file: one line per call with time, command, length, result and the levels of
// each valid frame, read once per process, and a trace that cannot be opened costing one line.
// The library reads the variable at its first call, so each case runs the probe program afresh.
#include "net_support.h"
#include "trace.h"
#include "trace_probe.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <spawn.h>
#include <sys/wait.h>

using namespace nettest;
namespace fs = std::filesystem;

namespace {

struct ProbeRun
{
    int status = -1;
    std::vector<std::string> results; // stdout lines
    std::vector<std::string> errors; // stderr lines
};

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TraceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "das-trace-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        m_dir = pattern;
        m_receiverPort = std::to_string(m_receiver.port());
    }
    void TearDown() override { fs::remove_all(m_dir); }

    ProbeRun runProbe(const std::string &tracePath)
    {
        const std::string out = (m_dir / "stdout").string();
        const std::string err = (m_dir / "stderr").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(
            &actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(
            &actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::string output = "artnet:127.0.0.1:" + m_receiverPort;
        std::string traceVar = "DASHARD_TRACE=" + tracePath;
        std::string outputVar = "DASHARD_OUTPUT=none";
        char *argv[] = { const_cast<char *>(DAS_TRACE_PROBE), output.data(), nullptr };
        char *envp[] = { traceVar.data(), outputVar.data(), nullptr };
        ProbeRun run;
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, DAS_TRACE_PROBE, &actions, nullptr, argv, envp);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            return run;
        while (waitpid(pid, &run.status, 0) < 0 && errno == EINTR) { }
        run.results = splitLines(readFile(out));
        run.errors = splitLines(readFile(err));
        return run;
    }

    static std::vector<std::string> expectedResults()
    {
        std::vector<std::string> results;
        for (const auto &call : traceprobe::kCalls)
            results.push_back(std::to_string(call.expected));
        return results;
    }

    static std::string frameHex()
    {
        static constexpr char kHex[] = "0123456789abcdef";
        std::string hex;
        for (int i = 0; i < 512; ++i) {
            hex += kHex[traceprobe::level(i) >> 4];
            hex += kHex[traceprobe::level(i) & 0xf];
        }
        return hex;
    }

    fs::path m_dir;
    UdpReceiver m_receiver;
    std::string m_receiverPort;
};

TEST_F(TraceTest, OneLinePerCallWithLevelsOfEachValidFrame)
{
    const fs::path trace = m_dir / "calls.log";
    const ProbeRun run = runProbe(trace.string());
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.results, expectedResults());
    // The only message is the one about DASHARD_OUTPUT=none: the moved trace path is ignored.
    ASSERT_EQ(run.errors.size(), 1u);
    EXPECT_NE(run.errors[0].find("\"none\""), std::string::npos) << run.errors[0];

    const std::string text = readFile(trace);
    ASSERT_TRUE(text.ends_with('\n'));
    const auto lines = splitLines(text);
    ASSERT_EQ(lines.size(), std::size(traceprobe::kCalls));
    const std::regex shape(R"(^(\d+)\.(\d{6}) (-?\d+) (-?\d+) (-?\d+)( ([0-9a-f]+))?$)");
    double previous = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE("line " + std::to_string(i + 1) + ": " + lines[i].substr(0, 60));
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, shape));
        const auto &call = traceprobe::kCalls[i];
        EXPECT_EQ(std::stoi(m[3]), call.command);
        EXPECT_EQ(std::stoi(m[4]), call.length);
        EXPECT_EQ(std::stoi(m[5]), call.expected);
        const bool validFrame = call.command == 4 && call.length == 512 && call.withFrame;
        ASSERT_EQ(m[6].matched, validFrame);
        if (validFrame) {
            EXPECT_EQ(m[7].str(), frameHex());
        }
        const double seconds = std::stod(m[1].str() + "." + m[2].str());
        EXPECT_GE(seconds, previous);
        previous = seconds;
    }
    EXPECT_TRUE(m_receiver.receive()) << "the traced frame was not sent";
}

TEST_F(TraceTest, AppendsToAnExistingTrace)
{
    const fs::path trace = m_dir / "calls.log";
    std::ofstream(trace) << "kept\n";
    ASSERT_EQ(runProbe(trace.string()).status, 0);
    ASSERT_EQ(runProbe(trace.string()).status, 0);
    const auto lines = splitLines(readFile(trace));
    ASSERT_EQ(lines.size(), 1 + 2 * std::size(traceprobe::kCalls));
    EXPECT_EQ(lines[0], "kept");
}

TEST_F(TraceTest, UnopenableTraceCostsOneLineAndNothingElse)
{
    const std::string path = (m_dir / "missing-dir" / "calls.log").string();
    const ProbeRun run = runProbe(path);
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.results, expectedResults());
    ASSERT_EQ(run.errors.size(), 2u); // the trace line, then the one about DASHARD_OUTPUT=none
    EXPECT_EQ(run.errors[0],
        "dashard: cannot open trace file \"" + path + "\": No such file or directory");
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(m_receiver.receive()) << "the frame after the failed trace was not sent";
}

TEST(TraceLine, TimeHasSixDecimalsAndFrameIsLowercaseHex)
{
    std::array<char, das::kTraceLineMax> buffer {};
    auto line = [&](int64_t micros, int32_t command, int32_t length, int32_t result,
                    const uint8_t *levels) {
        return std::string(
            buffer.data(), das::formatTraceLine(buffer, micros, command, length, result, levels));
    };
    EXPECT_EQ(line(31, 1, 0, -6, nullptr), "0.000031 1 0 -6\n");
    EXPECT_EQ(line(4'000'000, 2, 0, 0, nullptr), "4.000000 2 0 0\n");
    EXPECT_EQ(line(0, -2147483647 - 1, -2147483647 - 1, -99, nullptr),
        "0.000000 -2147483648 -2147483648 -99\n");

    std::array<uint8_t, 512> levels {};
    levels[0] = 0x00;
    levels[1] = 0xff;
    levels[2] = 0x0a;
    levels[511] = 0x7e;
    const std::string traced = line(12'300'104, 4, 512, 0, levels.data());
    const std::string expected = "12.300104 4 512 0 00ff0a" + std::string(2 * 508, '0') + "7e\n";
    EXPECT_EQ(traced, expected);
    // The longest possible line still fits.
    levels.fill(0xab);
    EXPECT_EQ(
        line(INT64_MAX, -2147483647 - 1, -2147483647 - 1, -2147483647 - 1, levels.data()).size(),
        20u + 3 * 12 + 1 + 1024 + 1);
}

} // namespace
