// The report's lines, worded once for brivane-check and the output window alike.
#include "check_report.h"

#include "dashard.h"
#include "output_kind.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace das {

std::string checkLine(const std::string &label, const std::string &text)
{
    std::string line = label + ":";
    line.resize(std::max<std::size_t>(line.size(), 9), ' ');
    return line + " " + text;
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

bool reportCheck(const std::optional<OutputConfig> &config, std::string why, const ReportLine &out)
{
    const Say say
        = [&](const std::string &label, const std::string &text) { out(checkLine(label, text)); };
    bool opens = false;
    if (config) {
        const OutputKindUnit &unit = outputKind(*config);
        if (unit.report) {
            opens = unit.report(*config, say, why);
        } else {
            say("Output", unit.describe(*config));
            opens = unit.check(*config, say, why);
        }
    }
    say("Result",
        opens ? "the interface button would open this output (\"" DAS_CAPTION_OK "\")"
              : "the interface button would show \"" DAS_CAPTION_NG "\": " + why);
    return opens;
}

bool reportScan(const OutputConfig *inForce, const ReportLine &out)
{
    const Say say = [&](const std::string &label, const std::string &text) {
        out(label.empty() ? text : label + ": " + text);
    };
    int found = 0;
    bool warned = false;
    for (const OutputKindUnit *unit : outputKinds()) {
        if (!unit->scan)
            continue;
        const int answered
            = unit->scan(inForce && &outputKind(*inForce) == unit ? inForce : nullptr, say);
        warned = warned || answered < 0;
        found += std::max(answered, 0);
    }
    return found > 0 && !warned;
}

unsigned askingUser()
{
    std::string why;
    for (const char *name : { "SUDO_UID", "PKEXEC_UID" }) {
        int64_t uid = 0;
        if (const char *value = std::getenv(name);
            value && parseNumber(name, value, 0, UINT32_MAX, uid, why))
            return static_cast<unsigned>(uid);
    }
    return ::getuid();
}

} // namespace das
