// The output window's settings-file writer alone: the setting line replaced in place, everything
// else kept, a symlink written through, and the old file whole whatever stops the write.
#include "output_setting.h"
#include "settings_file.h"
#include "temp_folder.h"

#include <csignal>
#include <cstdio>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool g_dieAtRename = false;
const std::string kSetting = "sacn@5,if=eth1";

std::string contents(const std::string &path)
{
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// The file at XDG_CONFIG_HOME's brivane/output, holding `text` (null: no file, nor its folder).
struct UserFile
{
    explicit UserFile(const char *text)
    {
        setenv("XDG_CONFIG_HOME", folder.path().c_str(), 1);
        unsetenv("DASHARD_OUTPUT");
        if (text)
            std::filesystem::create_directory(folder / "brivane"), std::ofstream(path) << text;
    }
    testsupport::TempFolder folder { "settings-file" };
    const std::string path = folder / "brivane/output";
};

} // namespace

// The write's rename, which a row can make the writer's last act.
extern "C" int rename(const char *from, const char *to) noexcept
{
    if (g_dieAtRename)
        raise(SIGKILL);
    using Rename = int (*)(const char *, const char *);
    return reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"))(from, to);
}

// Each row: the file before, and after the window saves kSetting, which the library then reads
// on the line the writer names.
struct WriteCase
{
    const char *name, *before, *after;
    int line;
};
const WriteCase kWrites[] = {
    { "FirstSettingReplacedTheRestKept", "# rig\n\n  artnet@3 \n# old\nola\n",
        "# rig\n\nsacn@5,if=eth1\n# old\nola\n", 3 },
    { "CommentsOnlyGainALastLine", "# one\n  # two", "# one\n  # two\nsacn@5,if=eth1\n", 3 },
    { "NoFileNorFolderMadeWhole", nullptr, "sacn@5,if=eth1\n", 1 },
    { "ByteOrderMarkKept", "\xef\xbb\xbf\nnone", "\xef\xbb\xbf\nsacn@5,if=eth1", 2 },
};
using Write = testing::TestWithParam<WriteCase>;
TEST_P(Write, ReplacesTheSettingLineAlone)
{
    UserFile user(GetParam().before);
    das::SettingsFile file { user.path, {} };
    std::string why;
    int line = 0;
    ASSERT_TRUE(das::readSettingsFile(file, why) && das::writeSetting(file, kSetting, line, why))
        << why;
    EXPECT_EQ(contents(user.path), GetParam().after);
    das::OutputSetting found;
    ASSERT_TRUE(das::findOutputSetting(found, why)) << why;
    EXPECT_EQ(found.text + ":" + std::to_string(found.line), kSetting + ":" + std::to_string(line));
    EXPECT_EQ(line, GetParam().line);
}
INSTANTIATE_TEST_SUITE_P(SettingsFile, Write, testing::ValuesIn(kWrites),
    [](const auto &row) { return std::string(row.param.name); });

// A symlinked file is written through to its target, and stays a link.
TEST(SettingsFile, SymlinkWrittenThroughToItsTarget)
{
    UserFile user(nullptr);
    std::filesystem::create_directories(user.folder / "dotfiles");
    std::ofstream(user.folder / "dotfiles/output") << "# kept\nartnet\n";
    std::filesystem::create_directory(user.folder / "brivane");
    std::filesystem::create_symlink("../dotfiles/output", user.path);
    das::SettingsFile file { user.path, {} };
    std::string why;
    int line = 0;
    ASSERT_TRUE(das::readSettingsFile(file, why) && das::writeSetting(file, kSetting, line, why))
        << why;
    EXPECT_TRUE(std::filesystem::is_symlink(user.path));
    EXPECT_EQ(contents(user.folder / "dotfiles/output"), "# kept\n" + kSetting + "\n");
}

// What stops a write leaves the old file as it was: the file changed since it was read (the
// write refused), or the writer killed between writing the new file and renaming it.
TEST(SettingsFile, OldFileWholeWhenTheWriteStops)
{
    UserFile user("# mine\nartnet@1\n");
    das::SettingsFile file { user.path, {} };
    std::string why;
    int line = 0;
    ASSERT_TRUE(das::readSettingsFile(file, why));
    std::ofstream(user.path, std::ios::app) << "# added by an editor\n";
    EXPECT_FALSE(das::writeSetting(file, kSetting, line, why));
    EXPECT_EQ(why, user.path + " has changed since it was read");
    ASSERT_TRUE(das::readSettingsFile(file, why));
    const std::string before = contents(user.path);
    std::fflush(nullptr);
    const pid_t writer = fork();
    if (writer == 0)
        g_dieAtRename = true, das::writeSetting(file, kSetting, line, why), _exit(0);
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the writer ended first";
    EXPECT_EQ(contents(user.path), before);
}
