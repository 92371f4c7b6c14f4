// libdashard as the program and the operator meet it: DasCall in a fresh process, where the output
// setting comes from, brivane-check, the one exported symbol, the trace, and the setting's forms.
#include "net_support.h"
#include "output_config.h"
#include "shell.h"
#include "temp_folder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>

namespace {

using testsupport::run;
namespace fs = std::filesystem;

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
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

// Each command runs in a folder of its own with HOME=h and XDG_CONFIG_DIRS=s1:s2 there, and
// `files` written under it ("<dir>" makes a folder, "<0000>TEXT" an unreadable file); the
// folder's name is left out of what it prints. The probe must print at most `part` on one line,
// then `result`; another command must print `part` and exit with status `result`.
struct Case
{
    std::string command;
    std::vector<std::pair<std::string, std::string>> files;
    std::string part, result;
};

TEST(DasCall, CodesSettingLookupCheckAndExports)
{
    nettest::UdpReceiver receiver;
    const std::string port = std::to_string(receiver.port()),
                      to = "DASHARD_OUTPUT=artnet:127.0.0.1:" + port;
    const std::string probe = " " DAS_TRACE_PROBE, open = probe + " 1,0",
                      check = " " BRIVANE_CHECK " ";
    // Each way to be wrong between an open and a good send, then a send after closing.
    const std::string series
        = " 4,512 7,0 1,0 0,0 5,512 1,1 2,-1 3,512 4,511 4,513 4,512,0 4,512 2,0 2,0 4,512";
    const auto results = [](std::string open) {
        return "-3 -1 " + open + " -1 -1 -2 -2 -2 -2 -2 -2 " + (open == "0" ? "0" : "-3")
            + " 0 0 -3 ";
    };
    const std::string u = "h/.config/brivane/output", s1 = "s1/brivane/output",
                      bad = "artnet:1.2.3";
    const std::string none = "cannot open output \"none\"",
                      forms = " (accepted forms: " + std::string(das::kOutputForms) + ")\n";
    const Case cases[] = {
        { to + " DASHARD_TRACE=calls.log" + probe + series, {}, "", results("0") },
        { "DASHARD_OUTPUT=none" + probe + series, {}, "dashard: " + none + ": output disabled\n",
            results("-6") },
        { "DASHARD_OUTPUT=dmx4all:/dev/ttyACM0" + probe + series, { { u, "none" } },
            "dashard: bad DASHARD_OUTPUT \"dmx4all:/dev/ttyACM0\": unknown output kind \"dmx4all\""
                + forms,
            results("-5") },
        { open, {}, "", "0 " }, // nothing anywhere: the default
        // An empty variable is unset; the user's file comes first, XDG_CONFIG_HOME over HOME.
        { "DASHARD_OUTPUT=" + open, { { u, "none" }, { s1, bad } }, none + " set in " + u + ":1",
            "-6 " },
        { "XDG_CONFIG_HOME=$PWD/c" + open,
            { { "c/brivane/output", "# sacn\n\n \t\n none \r\n" }, { u, bad } },
            none + " set in c/brivane/output:4", "-6 " },
        // A file that is malformed or cannot be read fails, with no fall through.
        { open, { { u, "#\n" + bad }, { s1, "none" } },
            u + ":2: bad output setting \"artnet:1.2.3\": host", "-5 " },
        { open, { { u, "<dir>" }, { s1, "none" } },
            u + ": cannot read the output setting: Is a directory", "-5 " },
        { open, { { u, "<0000>none" }, { s1, "none" } },
            u + ": cannot read the output setting: Permission denied", "-5 " },
        { to + "@3" + check, {}, ":" + port + ", port-address 3", "0" },
        { check, { { u, "# stage\nartnet:stage-left" } }, u + ", line 2", "1" },
        { "DASHARD_OUTPUT=opendmx:gone" + check, {}, "\"DAS NG\"", "1" },
        { check + "--frobnicate", {}, "--scan", "2" },
        { "test \"$(nm -D --defined-only " DASHARD_PATH
          " | awk '$2 != \"A\" { sub(/@.*/, \"\", $3); print $3 }')\" = DasCall"
          " && ldd " DASHARD_PATH " | grep -q libstdc++ && ! ldd " DASHARD_PATH
          " | grep -E 'libola|libprotobuf'",
            {}, "", "0" },
    };
    const testsupport::TempFolder folder("das-call");
    // Root reads anything: the commands run without its capabilities.
    const std::string drop = geteuid() == 0 ? "setpriv --inh-caps=-all --bounding-set=-all " : "";
    for (size_t n = 0; n < std::size(cases); ++n) {
        const Case &c = cases[n];
        const std::string at = folder / std::to_string(n);
        fs::create_directories(at);
        for (const auto &[file, text] : c.files) {
            fs::create_directories(fs::path(at + "/" + file).parent_path());
            if (text == "<dir>")
                fs::create_directory(at + "/" + file);
            std::ofstream(at + "/" + file) << replaced(text, "<0000>", "");
            chmod((at + "/" + file).c_str(), text.starts_with("<0000>") ? 0 : 0755);
        }
        int status = -1;
        const std::string said
            = replaced(run("cd " + at + " && " + drop
                               + "timeout 60 env -u DASHARD_OUTPUT -u DASHARD_TRACE -u "
                                 "XDG_CONFIG_HOME HOME=$PWD/h XDG_CONFIG_DIRS=$PWD/s1:$PWD/s2 "
                               + c.command + " 2>&1",
                           &status),
                at + "/", "");
        const auto lines = std::count(said.begin(), said.end(), '\n');
        EXPECT_TRUE(said.find(c.part) != std::string::npos
            && (c.command.find(probe) == std::string::npos
                    ? std::to_string(status) == c.result
                    : said.ends_with(c.result + "\n") && lines == 1 + !c.part.empty()))
            << c.command << "\n"
            << said;
    }
    // The one good send reached the receiver, brivane-check sent nothing, and the trace has each
    // call.
    EXPECT_TRUE(receiver.receive());
    EXPECT_FALSE(receiver.receive(300));
    std::string hex = " "; // the probe's frame: byte i is i & 0xff
    for (int i = 0; i < 512; ++i)
        hex += { "0123456789abcdef"[i >> 4 & 15], "0123456789abcdef"[i & 15] };
    EXPECT_EQ(tracedCalls(folder / "0/calls.log"),
        (std::vector<std::string> { "4 512 -3" + hex, "7 0 -1", "1 0 0", "0 0 -1", "5 512 -1",
            "1 1 -2", "2 -1 -2", "3 512 -2", "4 511 -2", "4 513 -2", "4 512 -2", "4 512 0" + hex,
            "2 0 0", "2 0 0", "4 512 -3" + hex }));
}

// The small probe's trace on a 64 KiB tmpfs in a private mount namespace: it turns over at 16 KiB,
// 15 frames a file, keeping the latest; made to fail before the calls or between them, it costs at
// most one line and never a call, and takes up again.
TEST(DasCall, TraceTurnsOverAtItsBoundAndFailsCostingOneLineNeverACall)
{
    const char *cases[][4] = {
        // set-up, steps, what is said, the frames traced
        { "echo older >fs/calls.log.1", "s100", "",
            "75 76 77 78 79 80 81 82 83 84 85 86 87 88 89 90 91 92 93 94 95 96 97 98 99 " },
        { "head -c 1M /dev/zero >fs/filler; truncate -s -4K fs/filler", "s20 sh:'rm fs/filler' s5",
            "cannot write trace file \"fs/calls.log\": No space left on device",
            "0 1 2 20 21 22 23 24 " },
        { "true", "s20 sh:'rm fs/calls.log; touch fs/calls.log; sleep 1.1' s5", "",
            "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 20 21 22 23 24 " },
        { "mount -o remount,ro fs", "s20 sh:'mount -o remount,rw fs; sleep 1.1' s5",
            "cannot open trace file \"fs/calls.log\": Read-only file system", "20 21 22 23 24 " },
    };
    nettest::UdpReceiver receiver;
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        const testsupport::TempFolder folder("das-trace");
        fs::create_directory(folder / "fs");
        const std::string said = run("cd '" + folder.path()
            + "' && timeout 60 unshare -m sh -c \"mount -t tmpfs -o size=64k das fs && { " + c[0]
            + "; } 2>/dev/null && DASHARD_TRACE=fs/calls.log DASHARD_OUTPUT=artnet:127.0.0.1:"
            + std::to_string(receiver.port()) + " " DAS_SMALL_TRACE_PROBE " 1,0 " + c[1]
            + " 2>&1; cp fs/calls.log* .\" 2>&1");
        if (!fs::exists(folder / "calls.log"))
            GTEST_SKIP() << "cannot mount a file system in a private mount namespace here";
        EXPECT_TRUE(std::regex_match(
            said, std::regex((*c[2] ? "dashard: " + std::string(c[2]) + "\n" : "") + "(0 )+\n")))
            << said;
        std::string frames;
        for (const char *file : { "/calls.log.1", "/calls.log" })
            for (const auto &call : tracedCalls(folder.path() + file))
                if (call.size() > 1024) // the number the probe gave the frame
                    frames += std::to_string(
                                  std::stoi(call.substr(call.size() - 1024, 4), nullptr, 16))
                        + " ";
        EXPECT_EQ(frames, c[3]);
        EXPECT_LE(fs::file_size(folder / "calls.log"), DAS_SMALL_TRACE_MAX);
        EXPECT_TRUE(
            c[3][0] != '7' || fs::file_size(folder / "calls.log.1") > DAS_SMALL_TRACE_MAX - 1088);
    }
}

TEST(DasCall, OutputFormsParseWithTheirDefaultsOrSayWhyNot)
{
    const char *kinds[] = { "none", "artnet", "sacn", "usbpro", "opendmx", "ola" };
    // Each value with what it parses to (KIND HOST:PORT@UNIVERSE DEVICE) or a phrase of its reason.
    const std::pair<const char *, std::string> cases[] = { { "", "artnet 127.0.0.1:6454@0 " },
        { "artnet:10.0.0.255:1@32767", "artnet 10.0.0.255:1@32767 " }, { "sacn", "sacn :5568@1 " },
        { "sacn:10.1.2.3@63999", "sacn 10.1.2.3:5568@63999 " }, { "usbpro", "usbpro :0@-1 " },
        { "opendmx:/dev/by-id/usb@1", "opendmx :0@-1 /dev/by-id/usb@1" },
        { "ola@63999", "ola :0@63999 " }, { "artnetx", "unknown output kind" },
        { "artnet:1.2.3.4:65536", "port out of range" }, { "artnet:1.2.3.4:80x", "not a number" },
        { "artnet:1.2.3.4 ", "not a dotted IPv4 address" },
        { "artnet@32768", "universe out of range" }, { "sacn@0", "universe out of range" },
        { "sacn:1.2.3.4:5568", "no port" }, { "opendmx", "needs a device path" },
        { "none@3", "none takes no" } };
    for (const auto &[text, want] : cases) {
        std::string why;
        const auto s = das::parseOutputConfig(text, why);
        const std::string got = s ? kinds[int(s->kind)] + (" " + s->host) + ":"
                + std::to_string(s->port) + "@" + std::to_string(s->universe) + " " + s->device
                                  : why;
        EXPECT_TRUE(s ? got == want : got.find(want) != std::string::npos)
            << '"' << text << "\" gives " << got;
    }
}

} // namespace
