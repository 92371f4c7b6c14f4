// One private folder per test for the files it makes, removed with them on every way out: by the
// destructor, or by removeAll() on a way out that runs no destructors.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>

namespace testsupport {

class TempFolder
{
public:
    // $TMPDIR (or /tmp) / NAME-XXXXXX; path() is empty when it could not be made.
    explicit TempFolder(const std::string &name)
    {
        const char *root = std::getenv("TMPDIR");
        std::string path = std::string(root && *root ? root : "/tmp") + "/" + name + "-XXXXXX";
        std::lock_guard lock(s_mutex);
        if (mkdtemp(path.data()))
            s_live.insert(m_path = path);
    }
    ~TempFolder()
    {
        std::lock_guard lock(s_mutex);
        if (s_live.erase(m_path))
            std::filesystem::remove_all(m_path, s_ignored);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const std::string &path() const { return m_path; }
    std::string operator/(const std::string &name) const { return m_path + "/" + name; }
    static void removeAll()
    {
        std::lock_guard lock(s_mutex);
        for (const auto &path : s_live)
            std::filesystem::remove_all(path, s_ignored);
    }

private:
    inline static std::mutex s_mutex;
    inline static std::set<std::string> s_live;
    inline static std::error_code s_ignored; // guarded by s_mutex
    std::string m_path;
};

} // namespace testsupport
