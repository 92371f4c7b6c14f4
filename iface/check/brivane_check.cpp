// brivane-check: tells the operator which DMX output the console would drive, where that choice
// came from, and whether pressing the interface button would open it — without sending a frame.
// Everything it decides goes through the output library's own code: the setting lookup and
// parser, and each output kind's own description, check and scan.
#include "check_report.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace das;

constexpr const char *kUsage = R"(Usage: brivane-check [--scan] [--wait]

Says which DMX output the Brivane console would drive, where that setting comes from
(DASHARD_OUTPUT, a settings file and line, or the default), and checks it without sending
a DMX frame. What it checks, by the setting's kind:
  artnet, sacn  the interface and address frames would leave from, and its link
  usbpro        the device's presence and access, and whether a widget answers
  opendmx       the device's presence and access
  ola           whether olad runs and has the universe
  none          nothing: the setting turns the output off

  --scan    list every USB serial device, asking those that say they are DMX interfaces
            whether they are DMX USB Pro widgets;
            for an Art-Net or sACN setting, also send one ArtPoll and list the nodes that
            answer, and listen 3 s for other sources of the sACN universe
  --wait    wait for Enter before leaving (for a terminal opened only to run it)
  --help    show this text

Exit status: 0 when the interface button would open the output, 1 when it would not,
2 for bad usage. With --scan: 0 when something answered and nothing was warned of, else 1.
)";

void print(const std::string &line) { std::puts(line.c_str()); }

// Everything but --wait: the check or the scan, and its exit status.
int run(const std::vector<std::string_view> &args)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    OutputSetting setting;
    std::string why;
    const auto config = findOutputSetting(setting, why);
    if (args.size() == 1 && args[0] == "--scan")
        return reportScan(config ? &*config : nullptr, print) ? 0 : 1;
    if (!args.empty()) {
        std::fprintf(stderr, "brivane-check: unknown argument \"%s\"\n\n%s",
            std::string(args[0]).c_str(), kUsage);
        return 2;
    }
    print(checkLine("Setting", setting.source == SettingSource::Default ? "(none)" : setting.text));
    print(checkLine("From", sourceText(setting)));
    return reportCheck(config, why, print) ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    std::vector<std::string_view> args(argv + 1, argv + argc);
    const auto wait = std::erase(args, "--wait") > 0;
    const int status = run(args);
    if (wait) {
        std::printf("\nPress Enter to close.");
        std::fflush(stdout);
        std::getchar();
    }
    return status;
}
