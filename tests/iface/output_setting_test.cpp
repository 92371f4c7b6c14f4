// Where the output setting comes from: the variable, then the settings files in XDG order; and
// each way a file fails the open, with one line naming it, in process and through DasCall.
#include "dashard.h"
#include "output_setting.h"
#include "shell.h"
#include "temp_folder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

// Sets the variables the lookup reads for one test and puts back what was there.
class Environment
{
public:
    Environment()
    {
        for (const char *name :
            { "DASHARD_OUTPUT", "DASHARD_TRACE", "HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS" }) {
            const char *value = std::getenv(name);
            m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
    }
    ~Environment()
    {
        for (const auto &[name, value] : m_saved)
            set(name, value ? value->c_str() : nullptr);
    }
    static void set(const char *name, const char *value)
    {
        value ? setenv(name, value, 1) : unsetenv(name);
    }

private:
    std::vector<std::pair<const char *, std::optional<std::string>>> m_saved;
};

using testsupport::run;

TEST(OutputSetting, SearchesTheUsersFileThenEachSystemFolderInOrder)
{
    Environment environment;
    // XDG_CONFIG_HOME, HOME, XDG_CONFIG_DIRS (null: unset), then the files searched.
    const char *cases[][4] = {
        { nullptr, "/h", nullptr, "/h/.config/brivane/output /etc/xdg/brivane/output" },
        { "", "/h/", "", "/h/.config/brivane/output /etc/xdg/brivane/output" },
        { "/c/", "/h", "/a:rel::/b//", "/c/brivane/output /a/brivane/output /b/brivane/output" },
        { "c", "/h", "rel:", "/h/.config/brivane/output /etc/xdg/brivane/output" },
        { nullptr, "", "/", "/brivane/output" },
    };
    for (const auto &c : cases) {
        Environment::set("XDG_CONFIG_HOME", c[0]);
        Environment::set("HOME", c[1]);
        Environment::set("XDG_CONFIG_DIRS", c[2]);
        std::string files;
        for (const auto &file : das::outputSettingFiles())
            files += (files.empty() ? "" : " ") + file;
        EXPECT_EQ(files, c[3]) << c[0] << " " << c[1] << " " << c[2];
    }
}

struct FileCase
{
    const char *what;
    const char *variable; // DASHARD_OUTPUT; null: unset
    // The user's file and two system folders' files: "" none, "<dir>" a folder, "<0000>"
    // unreadable.
    std::string user, system1, system2;
    int open; // what command 1 returns; only run when nothing can be sent
    // FILE:LINE of the setting found or failed, then its source and text, or the reason.
    std::string want;
};

TEST(OutputSetting, FollowsTheFirstFileHoldingOneAndFailsOnABadOne)
{
    const FileCase cases[] = {
        { "nothing anywhere: the default", nullptr, "", "", "", DAS_OK, ":0 default " },
        { "a set variable wins, files unread", "none", "artnet:1.2.3", "ola", "", DAS_E_UNAVAILABLE,
            ":0 variable none" },
        { "an empty variable is unset; user over system", "", "none", "sacn@3", "",
            DAS_E_UNAVAILABLE, "U:1 file none" },
        { "blanks, comments, spaces, CRLF; folders in order", nullptr, "",
            "# sacn\n\n \t\n ola@3 \r\n", "ola", DAS_OK, "S1:4 file ola@3" },
        { "comment-only and missing files skipped", nullptr, "# ola\n\n", "", "ola@7", DAS_OK,
            "S2:1 file ola@7" },
        { "invalid UTF-8 in a comment is harmless", nullptr, "# caf\xe9\nsacn", "", "", DAS_OK,
            "U:2 file sacn" },
        { "malformed: names file and line, no fall through", nullptr, "#\nartnet:1.2.3\n", "ola",
            "", DAS_E_CONFIG, "U:2 U:2: bad output setting \"artnet:1.2.3\": host" },
        { "a folder where the file should be", nullptr, "<dir>", "ola", "", DAS_E_CONFIG,
            "U:0 U: cannot read the output setting: Is a directory" },
        { "permission denied, root too", nullptr, "<0000>ola", "ola", "", DAS_E_CONFIG,
            "U:0 U: cannot read the output setting: Permission denied" },
        { "a very long line", nullptr, std::string(100000, '1'), "ola", "", DAS_E_CONFIG,
            "U:1 U:1: line longer than 4096 bytes" },
        { "a NUL byte", nullptr, "opendmx:/dev/tty\0S0\n"s, "ola", "", DAS_E_CONFIG,
            "U:1 U:1: NUL byte" },
        { "invalid UTF-8 in the setting", nullptr, "opendmx:/dev/\xff\n", "ola", "", DAS_E_CONFIG,
            "U:1 U:1: the setting is not valid UTF-8" },
    };
    Environment environment;
    const testsupport::TempFolder temp("das-setting");
    ASSERT_FALSE(temp.path().empty());
    // Root reads anything; the unreadable file is read by a process without those capabilities.
    const bool root = geteuid() == 0;
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path top = fs::path(temp.path()) / std::to_string(n++);
        const std::pair<std::string, std::string> files[] = {
            { (top / "home/.config/brivane/output").string(), c.user },
            { (top / "sys1/brivane/output").string(), c.system1 },
            { (top / "sys2/brivane/output").string(), c.system2 },
        };
        for (const auto &[path, content] : files) {
            if (content.empty())
                continue;
            fs::create_directories(fs::path(path).parent_path());
            const bool locked = content.starts_with("<0000>");
            if (content == "<dir>")
                fs::create_directory(path);
            else
                std::ofstream(path, std::ios::binary) << (locked ? content.substr(6) : content);
            if (locked)
                chmod(path.c_str(), 0);
        }
        Environment::set("DASHARD_OUTPUT", c.variable);
        Environment::set("HOME", (top / "home").c_str());
        Environment::set(
            "XDG_CONFIG_DIRS", ((top / "sys1").string() + ":" + (top / "sys2").string()).c_str());
        const auto shorten = [&](std::string text) {
            const char *names[] = { "U", "S1", "S2" };
            for (int i = 0; i < 3; ++i)
                for (std::size_t at; (at = text.find(files[i].first)) != std::string::npos;)
                    text.replace(at, files[i].first.size(), names[i]);
            return text;
        };

        const bool unreadable = c.user.starts_with("<0000>");
        if (!(unreadable && root)) {
            das::OutputSetting setting;
            std::string why;
            const auto config = das::findOutputSetting(setting, why);
            const char *sources[] = { "variable", "file", "default" };
            const std::string got = shorten(setting.file) + ":" + std::to_string(setting.line) + " "
                + (config ? sources[int(setting.source)] + (" " + setting.text) : shorten(why));
            EXPECT_TRUE(config ? got == c.want : got.starts_with(c.want)) << got;
        }
        if (c.open == DAS_OK)
            continue;
        // Through DasCall in a fresh process: one line said, then the probe's results: open fails
        // and the send after it finds nothing open.
        const std::string drop
            = unreadable && root ? "setpriv --inh-caps=-all --bounding-set=-all " : "";
        const std::string text = shorten(run(drop + DAS_TRACE_PROBE " 2>&1"));
        const auto eol = text.find('\n');
        EXPECT_EQ(text.substr(eol + 1),
            "-3 -1 " + std::to_string(c.open) + " -1 -1 -2 -2 -2 -2 -2 -2 -3 0 0 -3 \n");
        const std::string said = "dashard: " + c.want.substr(c.want.find(' ') + 1);
        EXPECT_TRUE(c.open != DAS_E_CONFIG || text.starts_with(said)) << text;
    }
}

} // namespace
