// The user's settings file as the output window reads and rewrites it: the setting line replaced
// in place, every other line kept, the file replaced whole by a rename or not at all.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace das {

struct SettingsFile
{
    std::string path; // as named; a symlink is read and written through to its target
    std::optional<std::string> text; // as last read or written; nullopt: there was no file
};

// Reads `file.path` into `file.text`. False, saying why, when it exists but cannot be read, is
// not a regular file, or is too long to be a settings file.
bool readSettingsFile(SettingsFile &file, std::string &why);

// `text` with its setting line, the first that is neither blank nor a comment, replaced by
// `setting`, or without one, `setting` added as the last line. `line` is its 1-based number.
std::string withSetting(std::string_view text, const std::string &setting, int &line);

// Writes `setting` into the file as withSetting makes it: a new file beside it, written, synced
// and renamed over it, so that a crash or a full disk leaves the old one whole; its folders are
// made when missing. Refuses when the file is no longer as `file.text` says. On success
// `file.text` is the new text; on failure the file is as it was and `why` says why.
bool writeSetting(SettingsFile &file, const std::string &setting, int &line, std::string &why);

} // namespace das
