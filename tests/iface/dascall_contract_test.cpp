// The C contract of libdashard as the program meets it through DasCall, in a fresh process each
// time (the trace is chosen at a process's first call): argument codes, the closed state, a bad
// DASHARD_OUTPUT on one stderr line, the trace, its turnover and its failures, and the one
// exported symbol.
#include "dashard.h"
#include "net_support.h"
#include "output_config.h"
#include "temp_folder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <numeric>
#include "shell.h"

#include <regex>
#include <unistd.h>

namespace {

using testsupport::run;

// das_trace_probe's stderr with `environment`: what the library said, then the results of a send
// while closed, command 7, open, eight calls with bad arguments, send, close, close, send.
std::string probe(const std::string &environment)
{
    return run(environment + " timeout 60 " DAS_TRACE_PROBE " 2>&1");
}

// The calls a trace file holds, as "COMMAND LENGTH RESULT[ HEX]"; a line of any other shape, a
// part of a line among them, fails the test.
std::vector<std::string> tracedCalls(const std::string &path)
{
    std::vector<std::string> calls;
    std::ifstream in(path);
    const std::regex shape(R"(\d+\.\d{6} (-?\d+ -?\d+ -?\d+)( [0-9a-f]{1024})?)");
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, shape)) << path << ": " << line.substr(0, 80);
        calls.push_back(m[1].str() + m[2].str());
    }
    return calls;
}

// The numbers the probe's "send:N" steps gave the frames in a trace file, in file order.
std::string frameNumbers(const std::string &path)
{
    std::string numbers;
    for (const auto &call : tracedCalls(path))
        if (call.size() > 1024)
            numbers
                += std::to_string(std::stoi(call.substr(call.size() - 1024, 4), nullptr, 16)) + " ";
    return numbers;
}

std::string repeat(const std::string &text, int times)
{
    std::string all;
    while (times-- > 0)
        all += text;
    return all;
}

TEST(DasCall, BadOutputValueFailsOpenWithOneLineNamingIt)
{
    for (const std::string value : { "none", "artnet:1.2.3:99999", "dmx4all:/dev/ttyACM0" }) {
        const std::string text = probe("DASHARD_OUTPUT='" + value + "'");
        const std::string line = text.substr(0, text.find('\n'));
        const bool malformed = value != "none";
        EXPECT_EQ(text.substr(line.size() + 1),
            std::string("-3 -1 ") + (malformed ? "-5" : "-6")
                + " -1 -1 -2 -2 -2 -2 -2 -2 -3 0 0 -3 \n");
        EXPECT_NE(line.find('"' + value + '"'), std::string::npos) << line;
        EXPECT_EQ(line.find(das::kOutputForms) != std::string::npos, malformed) << line;
    }
}

TEST(DasCall, CodesAndATraceLineForEachCallEvenWhenTheTraceCannotOpen)
{
    nettest::UdpReceiver receiver;
    const std::string output = "DASHARD_OUTPUT=artnet:127.0.0.1:" + std::to_string(receiver.port());
    const testsupport::TempFolder folder("das-trace");
    const std::string trace = folder / "calls.log";
    const std::string results = "-3 -1 0 -1 -1 -2 -2 -2 -2 -2 -2 0 0 0 -3 \n";
    EXPECT_EQ(probe(output + " DASHARD_TRACE=" + trace), results);
    // The calls with bad arguments sent nothing and left the output open.
    const auto packet = receiver.receive();
    EXPECT_TRUE(packet && packet->size() == 530 && (*packet)[12] == 1);

    std::string hex = " "; // the probe's frame: byte i is i & 0xff
    for (int i = 0; i < 512; ++i)
        hex += { "0123456789abcdef"[i >> 4 & 15], "0123456789abcdef"[i & 15] };
    EXPECT_EQ(tracedCalls(trace),
        (std::vector<std::string> { "4 512 -3" + hex, "7 0 -1", "1 0 0", "0 0 -1", "5 512 -1",
            "1 1 -2", "2 -1 -2", "3 512 -2", "4 511 -2", "4 513 -2", "4 512 -2", "4 512 0" + hex,
            "2 0 0", "2 0 0", "4 512 -3" + hex }));

    const std::string lost = "/nonexistent-das-dir/calls.log";
    EXPECT_EQ(probe(output + " DASHARD_TRACE=" + lost),
        "dashard: cannot open trace file \"" + lost + "\": No such file or directory\n" + results);
    EXPECT_TRUE(receiver.receive());
}

// das_small_trace_probe's library turns its trace over at DAS_SMALL_TRACE_MAX bytes: 15 frames a
// file, so of 100 the last 25 are kept.
TEST(DasCall, TraceTurnsOverAtItsBoundKeepingTheLatestCalls)
{
    const testsupport::TempFolder folder("das-trace");
    const std::string trace = folder / "calls.log";
    std::ofstream(trace + ".1") << "an older trace\n";
    EXPECT_EQ(run("DASHARD_TRACE=" + trace + " timeout 60 " DAS_SMALL_TRACE_PROBE " send:100 2>&1"),
        repeat("-3 ", 100) + "\n");
    // The last calls, none lost at a turn, in two files each filled as far as a line fits.
    std::string last25;
    for (int i = 75; i < 100; ++i)
        last25 += std::to_string(i) + " ";
    EXPECT_EQ(frameNumbers(trace + ".1") + frameNumbers(trace), last25);
    EXPECT_GT(std::filesystem::file_size(trace + ".1"), DAS_SMALL_TRACE_MAX - 1088);
    EXPECT_LE(std::filesystem::file_size(trace), DAS_SMALL_TRACE_MAX);
    const auto files = std::distance(std::filesystem::directory_iterator(folder.path()), {});
    EXPECT_EQ(files, 2) << "more files than FILE and FILE.1";
    // A second run appends, counting the ten lines FILE holds: its sixth frame turns it over.
    EXPECT_EQ(run("DASHARD_TRACE=" + trace + " timeout 60 " DAS_SMALL_TRACE_PROBE " send:6 2>&1"),
        repeat("-3 ", 6) + "\n");
    EXPECT_EQ(frameNumbers(trace + ".1") + frameNumbers(trace),
        "90 91 92 93 94 95 96 97 98 99 0 1 2 3 4 5 ");
}

// The trace on a 64 KiB file system of the test's own, in a private mount namespace, made to fail
// in `setUp` (before the calls) or in the probe's steps: the calls go on, as the results show,
// with at most one line on stderr, and the trace takes up again with the latest frames.
struct TraceFault
{
    const char *setUp, *steps, *said, *frames, *why;
};
const TraceFault kTraceFaults[] = {
    { "head -c 1M /dev/zero >fs/filler; truncate -s -4K fs/filler",
        "send:20 sh:\"rm fs/filler\" send:5",
        "cannot write trace file \"fs/calls.log\": No space left on device",
        "0 1 2 20 21 22 23 24 ", "disk full after three lines and part of a fourth, then space" },
    { "true", "send:20 sh:\"rm fs/calls.log; touch fs/calls.log\" wait send:5", "",
        "20 21 22 23 24 ", "file removed underneath, another in its place" },
    { "mount -o remount,ro fs", "send:20 sh:\"mount -o remount,rw fs\" wait send:5",
        "cannot open trace file \"fs/calls.log\": Read-only file system", "20 21 22 23 24 ",
        "read-only file system, then writable" },
};

TEST(DasCall, TraceFailuresCostOneLineAndNeverACall)
{
    nettest::UdpReceiver receiver;
    for (const TraceFault &c : kTraceFaults) {
        SCOPED_TRACE(c.why);
        const testsupport::TempFolder folder("das-trace");
        std::filesystem::create_directory(folder / "fs");
        const std::string inside = "cd '" + folder.path()
            + "' && timeout 60 unshare -m sh -c 'mount -t tmpfs -o size=64k das fs && ";
        if (run(inside + "echo mounted' 2>&1") != "mounted\n")
            GTEST_SKIP() << "cannot mount a file system in a private mount namespace here "
                            "(needs root, unshare -m and mount)";
        const std::string said = *c.said ? "dashard: " + std::string(c.said) + "\n" : "";
        EXPECT_EQ(
            run(inside + "{ " + c.setUp
                + "; } 2>/dev/null; DASHARD_TRACE=fs/calls.log DASHARD_OUTPUT=artnet:127.0.0.1:"
                + std::to_string(receiver.port()) + " " DAS_SMALL_TRACE_PROBE " open " + c.steps
                + " 2>&1; cp fs/calls.log .'"),
            said + repeat("0 ", 26) + "\n");
        EXPECT_EQ(frameNumbers(folder / "calls.log"), c.frames);
    }
}

TEST(DashardLibrary, ExportsOnlyDasCallAndLoadsNoOlaLibrary)
{
    // Defined dynamic symbols by name, without the version node (type A).
    EXPECT_EQ(run("nm -D --defined-only '" DASHARD_PATH
                  "' | awk '$2 != \"A\" { sub(/@.*/, \"\", $3); print $3 }'"),
        "DasCall\n");
    // The OLA client stack comes with the OLA module only, never with the library.
    const std::string loaded = run("ldd '" DASHARD_PATH "'");
    EXPECT_NE(loaded.find("libstdc++"), std::string::npos) << loaded;
    EXPECT_FALSE(std::regex_search(loaded, std::regex("libola|libprotobuf"))) << loaded;
}

} // namespace
