// The C contract of libdashard as the program meets it through DasCall, in a fresh process each
// time (the trace is chosen at a process's first call): argument codes, the closed state, a bad
// DASHARD_OUTPUT on one stderr line, the trace, and the one exported symbol.
#include "dashard.h"
#include "net_support.h"
#include "output_config.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

namespace {

// The output of a shell command.
std::string run(const std::string &command)
{
    std::string text;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        for (int c; (c = std::fgetc(pipe)) != EOF;)
            text += static_cast<char>(c);
        pclose(pipe);
    }
    return text;
}

// das_trace_probe's stderr with `environment`: what the library said, then the results of a send
// while closed, command 7, open, eight calls with bad arguments, send, close, close, send.
std::string probe(const std::string &environment)
{
    return run(environment + " " DAS_TRACE_PROBE " 2>&1");
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
    const std::string trace = ::testing::TempDir() + "das-trace-" + std::to_string(getpid());
    const std::string results = "-3 -1 0 -1 -1 -2 -2 -2 -2 -2 -2 0 0 0 -3 \n";
    EXPECT_EQ(probe(output + " DASHARD_TRACE=" + trace), results);
    // The calls with bad arguments sent nothing and left the output open.
    const auto packet = receiver.receive();
    EXPECT_TRUE(packet && packet->size() == 530 && (*packet)[12] == 1);

    std::string hex = " "; // the probe's frame: byte i is i & 0xff
    for (int i = 0; i < 512; ++i)
        hex += { "0123456789abcdef"[i >> 4 & 15], "0123456789abcdef"[i & 15] };
    std::vector<std::string> calls;
    std::ifstream in(trace);
    const std::regex shape(R"(\d+\.\d{6} (-?\d+ -?\d+ -?\d+)( [0-9a-f]+)?)");
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, shape)) << line.substr(0, 80);
        calls.push_back(m[1].str() + m[2].str());
    }
    std::remove(trace.c_str());
    EXPECT_EQ(calls,
        (std::vector<std::string> { "4 512 -3" + hex, "7 0 -1", "1 0 0", "0 0 -1", "5 512 -1",
            "1 1 -2", "2 -1 -2", "3 512 -2", "4 511 -2", "4 513 -2", "4 512 -2", "4 512 0" + hex,
            "2 0 0", "2 0 0", "4 512 -3" + hex }));

    const std::string lost = "/nonexistent-das-dir/calls.log";
    EXPECT_EQ(probe(output + " DASHARD_TRACE=" + lost),
        "dashard: cannot open trace file \"" + lost + "\": No such file or directory\n" + results);
    EXPECT_TRUE(receiver.receive());
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
