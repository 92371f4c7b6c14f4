// The operator's report on an output setting, line by line: what brivane-check prints and the
// output window shows, from the lookup and each kind's own description, check and scan.
#pragma once

#include "output_config.h"
#include "output_setting.h"

#include <functional>
#include <optional>
#include <string>

namespace das {

// Takes one finished line of the report, without its newline.
using ReportLine = std::function<void(const std::string &line)>;

// "Setting:  sacn@5": a check's line, its label padded so that the texts line up.
std::string checkLine(const std::string &label, const std::string &text);

// Where `setting`, as findOutputSetting filled it, came from: the variable, a file and line, or
// the default with the files searched.
std::string sourceText(const OutputSetting &setting);

// The Output line, what the kind checks, and the Result, for `config` (nullopt: refused, `why`
// saying why). Sends no frame. True when the interface button would open the output.
bool reportCheck(const std::optional<OutputConfig> &config, std::string why, const ReportLine &out);

// Every kind's scan, the kind of `inForce` (null: none) told the setting. True when something
// answered and nothing was warned of.
bool reportScan(const OutputConfig *inForce, const ReportLine &out);

// The user a check or scan is made for, whose console it looks beside: the one who ran sudo or
// pkexec (SUDO_UID, PKEXEC_UID), else this one.
unsigned askingUser();

} // namespace das
