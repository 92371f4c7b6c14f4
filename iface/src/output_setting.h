// Where the output setting in force comes from: DASHARD_OUTPUT, else the first settings file
// that holds one, else the default.
#pragma once

#include "output_config.h"

#include <optional>
#include <string>
#include <vector>

namespace das {

enum class SettingSource { Variable, File, Default };

struct OutputSetting
{
    SettingSource source = SettingSource::Default;
    // The setting as found: a file's line trimmed, the variable as it is; empty for Default.
    std::string text;
    // SettingSource::File: the file it came from (or the file that failed).
    std::string file;
    // SettingSource::File: its 1-based line number (0 when the file could not be read).
    int line = 0;
};

// Finds the setting in force now — DASHARD_OUTPUT when set and not empty, else the first
// settings file that holds one, else the default — and parses it. On success returns the config
// and fills `setting`. On failure (a malformed setting, a file that exists but cannot be read)
// returns nullopt, fills `setting` as far as known, and puts one line saying what is wrong and
// where, without the "dashard: " prefix, in `why`. A failing file is never passed over for the
// next one.
std::optional<OutputConfig> findOutputSetting(OutputSetting &setting, std::string &why);

// The files searched, in order, for the environment as it is now: the user's
// $XDG_CONFIG_HOME/brivane/output (or ~/.config/brivane/output), then DIR/brivane/output for
// each DIR of $XDG_CONFIG_DIRS (or /etc/xdg). Relative directories are left out.
std::vector<std::string> outputSettingFiles();

} // namespace das
