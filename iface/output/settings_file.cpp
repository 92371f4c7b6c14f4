// The settings file's read and its all-or-nothing write.
#include "settings_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace das {

namespace {

constexpr std::size_t kLongest = 64 * 1024; // more than any settings file holds
constexpr std::string_view kSpace = " \t\r\v\f";

std::string errorText(int error) { return std::strerror(error); }

// Where a write through `path` lands: the end of its chain of symlinks, which need not exist.
std::filesystem::path target(const std::filesystem::path &path)
{
    std::filesystem::path at = path;
    std::error_code error;
    for (int hops = 0; hops < 40 && std::filesystem::is_symlink(at, error); ++hops) {
        const std::filesystem::path next = std::filesystem::read_symlink(at, error);
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    return at;
}

bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t done = ::write(fd, text.data(), text.size());
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(done));
    }
    return true;
}

mode_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

bool readSettingsFile(SettingsFile &file, std::string &why)
{
    // Non-blocking, so that a FIFO put where the file should be cannot hold the window.
    const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT) {
        file.text.reset();
        return true;
    }
    struct stat info
    {
    };
    std::string text(kLongest + 1, '\0');
    ssize_t size = -1;
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        size = ::read(fd, text.data(), text.size());
    const int error = fd < 0 || size < 0 ? errno : 0;
    if (fd >= 0)
        ::close(fd);
    if (fd >= 0 && !S_ISREG(info.st_mode))
        why = file.path + " is not a regular file";
    else if (error)
        why = "cannot read " + file.path + ": " + errorText(error);
    else if (static_cast<std::size_t>(size) > kLongest)
        why = file.path + " is longer than a settings file can be";
    else
        return text.resize(static_cast<std::size_t>(size)), file.text = std::move(text), true;
    return false;
}

std::string withSetting(std::string_view text, const std::string &setting, int &line)
{
    const std::size_t start = text.starts_with("\xef\xbb\xbf") ? 3 : 0; // some editors' mark
    std::size_t at = start;
    for (line = 1; at < text.size(); ++line) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::size_t first = text.find_first_not_of(kSpace, at);
        if (first < end && text[first] != '#')
            return std::string(text.substr(0, at)) + setting + std::string(text.substr(end));
        at = end + 1;
    }
    const bool ended = text.size() == start || text.ends_with('\n');
    return std::string(text) + (ended ? "" : "\n") + setting + "\n";
}

bool writeSetting(SettingsFile &file, const std::string &setting, int &line, std::string &why)
{
    const std::filesystem::path path = target(file.path);
    const std::string folder = path.parent_path().string();
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    SettingsFile now { file.path, {} };
    if (error) {
        why = "cannot make the folder " + folder + ": " + error.message();
        return false;
    }
    if (!readSettingsFile(now, why))
        return false;
    if (now.text != file.text) {
        why = file.path + " has changed since it was read";
        return false;
    }
    const std::string text = withSetting(file.text.value_or(""), setting, line);
    std::string temporary = (path.parent_path() / ".output.XXXXXX").string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        why = "cannot write in " + folder + ": " + errorText(errno);
        return false;
    }
    struct stat old
    {
    };
    const mode_t mode = ::stat(path.c_str(), &old) == 0 ? old.st_mode & 07777 : newFileMode();
    const bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
    const int writeError = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        why = "cannot write " + path.string() + ": " + errorText(written ? errno : writeError);
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself lasts once the folder is synced too.
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0)
        ::fsync(dir), ::close(dir);
    file.text = text;
    return true;
}

} // namespace das
