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
    ~TempFolder() { remove(m_path); }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const std::string &path() const { return m_path; }
    std::string operator/(const std::string &name) const { return m_path + "/" + name; }
    static void removeAll() { remove(""); }

private:
    // Removes `path`, or with "" every folder still there.
    static void remove(const std::string &path)
    {
        std::lock_guard lock(s_mutex);
        std::error_code ignored;
        for (auto at = s_live.begin(); at != s_live.end();)
            at = path.empty() || *at == path
                ? (std::filesystem::remove_all(*at, ignored), s_live.erase(at))
                : ++at;
    }
    inline static std::mutex s_mutex;
    inline static std::set<std::string> s_live;
    std::string m_path;
};

} // namespace testsupport
