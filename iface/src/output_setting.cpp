// The output setting's lookup: the variable, then the settings files in XDG order, read with
// bounds so that no file, however odd, can make an open crash, hang or send.
#include "output_setting.h"

#include "output_kind.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace das {

namespace {

constexpr const char *kOutputVariable = "DASHARD_OUTPUT";
constexpr std::string_view kSettingName = "brivane/output";
// A setting is one short line; nothing longer can be one, and nothing past the bound is read.
constexpr std::size_t kLineMax = 4096;
constexpr std::size_t kReadMax = 64 * 1024;
constexpr std::string_view kSpace = " \t\r\v\f";

enum class FileRead { Absent, Found, Failed };

bool isAbsolute(const char *path) { return path && path[0] == '/'; }

std::string join(std::string_view dir, std::string_view name)
{
    while (!dir.empty() && dir.back() == '/')
        dir.remove_suffix(1);
    return std::string(dir) + "/" + std::string(name);
}

std::string formsNote() { return " (accepted forms: " + outputForms() + ")"; }

// Well-formed UTF-8: no stray or missing continuation bytes, overlong forms, surrogates, or code
// points past U+10FFFF.
bool isUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t more = 0;
        char32_t code = lead;
        char32_t least = 0;
        if (lead >= 0xf0 && lead < 0xf8)
            more = 3, code = lead & 0x07, least = 0x10000;
        else if (lead >= 0xe0 && lead < 0xf0)
            more = 2, code = lead & 0x0f, least = 0x800;
        else if (lead >= 0xc0 && lead < 0xe0)
            more = 1, code = lead & 0x1f, least = 0x80;
        else if (lead >= 0x80)
            return false;
        if (text.size() - i <= more)
            return false;
        for (std::size_t k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3f);
        }
        if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;
        i += more + 1;
    }
    return true;
}

// Reads at most kReadMax bytes of the regular file open on `fd`; `whole` says whether that was
// all of it. Returns what went wrong, or nothing.
std::string readBounded(int fd, std::string &text, bool &whole)
{
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0)
        return std::strerror(errno);
    if (S_ISDIR(info.st_mode))
        return std::strerror(EISDIR);
    if (!S_ISREG(info.st_mode))
        return "not a regular file";
    text.resize(kReadMax);
    std::size_t size = 0;
    whole = false;
    while (size < kReadMax) {
        const ssize_t got = ::read(fd, text.data() + size, kReadMax - size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::strerror(errno);
        if (got == 0) {
            whole = true;
            break;
        }
        size += static_cast<std::size_t>(got);
    }
    text.resize(size);
    return {};
}

// Looks for the setting in `path`: the first line that is neither blank nor a comment.
FileRead readSettingFile(const std::string &path, OutputSetting &setting, std::string &why)
{
    setting.source = SettingSource::File;
    setting.file = path;
    setting.line = 0;
    const auto fail = [&](int line, const std::string &what) {
        setting.line = line;
        // Piece by piece: GCC 12 at -O3 sees an overlapping copy in "x" + std::string (-Wrestrict).
        why = path;
        if (line > 0)
            why.append(":").append(std::to_string(line));
        why.append(": ").append(what);
        return FileRead::Failed;
    };
    // Non-blocking, so that a FIFO put where the file should be cannot hold the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return FileRead::Absent;
        return fail(0, "cannot read the output setting: " + std::string(std::strerror(errno)));
    }
    std::string text;
    bool whole = false;
    const std::string error = readBounded(fd, text, whole);
    ::close(fd);
    if (!error.empty())
        return fail(0, "cannot read the output setting: " + error);

    std::string_view rest = text;
    if (rest.starts_with("\xef\xbb\xbf")) // the byte-order mark some editors write
        rest.remove_prefix(3);
    for (int line = 1; !rest.empty(); ++line) {
        const auto end = rest.find('\n');
        const std::string_view raw = rest.substr(0, end);
        if (raw.size() > kLineMax)
            return fail(line, "line longer than " + std::to_string(kLineMax) + " bytes");
        if (end == std::string_view::npos && !whole)
            return fail(line, "no setting in the first " + std::to_string(kReadMax) + " bytes");
        if (raw.find('\0') != std::string_view::npos)
            return fail(line, "NUL byte: not a text file");
        const auto first = raw.find_first_not_of(kSpace);
        if (first != std::string_view::npos && raw[first] != '#') {
            const auto value = raw.substr(first, raw.find_last_not_of(kSpace) + 1 - first);
            for (const char c : value)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                    return fail(line, "control character in the setting");
            if (!isUtf8(value))
                return fail(line, "the setting is not valid UTF-8");
            setting.text.assign(value);
            setting.line = line;
            return FileRead::Found;
        }
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    return FileRead::Absent;
}

} // namespace

std::vector<std::string> outputSettingFiles()
{
    std::vector<std::string> files;
    if (const char *configHome = std::getenv("XDG_CONFIG_HOME"); isAbsolute(configHome))
        files.push_back(join(configHome, kSettingName));
    else if (const char *home = std::getenv("HOME"); isAbsolute(home))
        files.push_back(join(home, ".config/" + std::string(kSettingName)));

    const char *dirs = std::getenv("XDG_CONFIG_DIRS");
    std::string_view list = dirs ? dirs : "";
    const std::size_t before = files.size();
    while (!list.empty()) {
        const auto colon = list.find(':');
        const std::string_view dir = list.substr(0, colon);
        if (dir.starts_with('/'))
            files.push_back(join(dir, kSettingName));
        list.remove_prefix(colon == std::string_view::npos ? list.size() : colon + 1);
    }
    // No usable directory listed reads as none listed.
    if (files.size() == before)
        files.push_back(join("/etc/xdg", kSettingName));
    return files;
}

std::optional<OutputConfig> findOutputSetting(OutputSetting &setting, std::string &why)
{
    setting = {};
    if (const char *value = std::getenv(kOutputVariable); value && *value) {
        setting.source = SettingSource::Variable;
        setting.text = value;
        auto config = parseOutputConfig(setting.text, why);
        if (!config)
            why = "bad DASHARD_OUTPUT \"" + setting.text + "\": " + why + formsNote();
        return config;
    }
    for (const std::string &file : outputSettingFiles()) {
        const FileRead read = readSettingFile(file, setting, why);
        if (read == FileRead::Absent)
            continue;
        if (read == FileRead::Failed)
            return std::nullopt;
        auto config = parseOutputConfig(setting.text, why);
        if (!config)
            why = file + ":" + std::to_string(setting.line) + ": bad output setting \""
                + setting.text + "\": " + why + formsNote();
        return config;
    }
    setting = {};
    return parseOutputConfig({}, why);
}

} // namespace das
