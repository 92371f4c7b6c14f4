// brivane-check: tells the operator which DMX output the console would drive, where that choice
// came from, and whether pressing the interface button would open it — without sending a frame.
// Everything it decides goes through the output library's own code: the setting lookup and
// parser, and each output kind's own description, check and scan.
#include "output_kind.h"
#include "output_setting.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace das;

constexpr const char *kUsage = R"(Usage: brivane-check [--scan] [--wait]

Says which DMX output the Brivane console would drive, where that setting comes from
(DASHARD_OUTPUT, a settings file and line, or the default), and checks it without sending
a DMX frame: a serial device's presence and access, whether a USB Pro widget answers, whether
olad has the universe, the interface and local address Art-Net or sACN frames would leave from.

  --scan    list every USB serial device, asking those that say they are DMX interfaces
            whether they are DMX USB Pro widgets;
            for an Art-Net or sACN setting, also send one ArtPoll and list the nodes that
            answer, and listen 3 s for other sources of the sACN universe
  --wait    wait for Enter before leaving (the menu entry's terminal closes when it ends)
  --help    show this text

Exit status: 0 when the interface button would open the output, 1 when it would not,
2 for bad usage. With --scan: 0 when something answered and nothing was warned of, else 1.
)";

void line(const std::string &label, const std::string &text)
{
    std::printf("%-9s %s\n", (label + ":").c_str(), text.c_str());
}

std::string sourceText(const OutputSetting &setting)
{
    switch (setting.source) {
    case SettingSource::Variable:
        return "the environment variable DASHARD_OUTPUT";
    case SettingSource::File:
        return setting.file + ", line " + std::to_string(setting.line);
    case SettingSource::Default:
        break;
    }
    std::string searched;
    for (const std::string &file : outputSettingFiles())
        searched += (searched.empty() ? "" : ", ") + file;
    return "no setting in DASHARD_OUTPUT or " + searched + ": the default";
}

// The scan: every kind with something to look for, the setting's own kind told the setting.
int scan()
{
    OutputSetting setting;
    std::string why;
    const auto inForce = findOutputSetting(setting, why);
    const Say say = [](const std::string &label, const std::string &text) {
        std::printf("%s%s\n", label.empty() ? "" : (label + ": ").c_str(), text.c_str());
    };
    int found = 0;
    bool warned = false;
    for (const OutputKindUnit *unit : outputKinds()) {
        if (!unit->scan)
            continue;
        const int answered
            = unit->scan(inForce && &outputKind(*inForce) == unit ? &*inForce : nullptr, say);
        warned = warned || answered < 0;
        found += std::max(answered, 0);
    }
    return found > 0 && !warned ? 0 : 1;
}

// Everything but --wait: the check or the scan, and its exit status.
int run(const std::vector<std::string_view> &args)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.size() == 1 && args[0] == "--scan")
        return scan();
    if (!args.empty()) {
        std::fprintf(stderr, "brivane-check: unknown argument \"%s\"\n\n%s",
            std::string(args[0]).c_str(), kUsage);
        return 2;
    }

    OutputSetting setting;
    std::string why;
    const auto config = findOutputSetting(setting, why);
    line("Setting", setting.source == SettingSource::Default ? "(none)" : setting.text);
    line("From", sourceText(setting));
    if (!config) {
        line("Result", "the interface button would show \"DAS NG\": " + why);
        return 1;
    }
    const OutputKindUnit &unit = outputKind(*config);
    line("Output", unit.describe(*config));
    if (!unit.check(*config, line, why)) {
        line("Result", "the interface button would show \"DAS NG\": " + why);
        return 1;
    }
    line("Result", "the interface button would open this output (\"DAS OK\")");
    return 0;
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
