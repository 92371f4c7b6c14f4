// brivane-check as the operator runs it: its exit status and key lines for a working network
// setting, a silent serial device and a broken settings file, and that it never sends a frame.
#include "net_support.h"
#include "shell.h"
#include "temp_folder.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Runs brivane-check with `environment` (VAR=VALUE words, DASHARD_OUTPUT unset unless given) and
// XDG folders inside `home`, so the machine's own settings never leak in.
struct Outcome
{
    int status = -1;
    std::string output;
};
Outcome check(const std::string &arguments, const std::string &environment, const fs::path &home)
{
    Outcome outcome;
    outcome.output = testsupport::run("env -u DASHARD_OUTPUT HOME=" + home.string()
            + " XDG_CONFIG_HOME=" + (home / "config").string() + " XDG_CONFIG_DIRS="
            + (home / "system").string() + " " + environment + " " BRIVANE_CHECK " " + arguments
            + " 2>&1",
        &outcome.status);
    return outcome;
}

class BrivaneCheck : public testing::Test
{
protected:
    void SetUp() override { ASSERT_FALSE(folder.path().empty()); }

    const testsupport::TempFolder folder { "brivane-check" };
    const fs::path home = folder.path();
};

TEST_F(BrivaneCheck, NetworkSettingOpensAndSendsNothing)
{
    nettest::UdpReceiver receiver;
    ASSERT_TRUE(receiver.ok());
    const std::string target = "127.0.0.1:" + std::to_string(receiver.port());
    const Outcome run = check("", "DASHARD_OUTPUT=artnet:" + target + "@3", home);
    EXPECT_EQ(run.status, 0) << run.output;
    for (const std::string &key : std::vector<std::string> { "From:     the environment variable DASHARD_OUTPUT",
             "Art-Net to " + target + ", port-address 3", "frames leave from 127.0.0.1",
             "would open" })
        EXPECT_NE(run.output.find(key), std::string::npos) << key << "\n" << run.output;
    EXPECT_FALSE(receiver.receive(300)) << "a frame was sent";
}

TEST_F(BrivaneCheck, SilentSerialDeviceFailsAfterOnlyTheWidgetQuestion)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    const std::string device = ptsname(master);
    const int keepOpen = open(device.c_str(), O_RDWR | O_NOCTTY); // the line stays up between opens

    const Outcome run = check("", "DASHARD_OUTPUT=usbpro:" + device, home);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find(device + ": no answer"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\"DAS NG\""), std::string::npos) << run.output;

    std::vector<uint8_t> seen(64);
    pollfd entry { master, POLLIN, 0 };
    const ssize_t got = poll(&entry, 1, 0) > 0 ? read(master, seen.data(), seen.size()) : 0;
    seen.resize(size_t(std::max<ssize_t>(got, 0)));
    const std::vector<uint8_t> question { 0x7E, 0x0A, 0, 0, 0xE7, 0x7E, 0x03, 2, 0, 0, 0, 0xE7 };
    EXPECT_EQ(seen, question) << "the device got more than the widget question";
    close(keepOpen);
    close(master);
}

TEST_F(BrivaneCheck, SettingsFileErrorsAndUsage)
{
    fs::create_directories(home / "config/brivane");
    std::ofstream(home / "config/brivane/output") << "# the stage node\nartnet:stage-left\n";
    const Outcome bad = check("", "", home);
    EXPECT_EQ(bad.status, 1) << bad.output;
    EXPECT_NE(bad.output.find((home / "config/brivane/output").string() + ", line 2"),
        std::string::npos)
        << bad.output;

    fs::remove(home / "config/brivane/output");
    const Outcome fallback = check("", "", home);
    EXPECT_EQ(fallback.status, 0) << fallback.output;
    EXPECT_NE(fallback.output.find("the default"), std::string::npos) << fallback.output;

    EXPECT_EQ(check("--frobnicate", "", home).status, 2);
    const Outcome help = check("--help", "", home);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--scan"), std::string::npos);
}

} // namespace
