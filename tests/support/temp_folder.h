// One private folder per test for every file it makes, removed with its contents on every way
// out: by the destructor however the test ends, or by removeAll() on a path that ends the process.
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
        if (!mkdtemp(path.data()))
            return;
        std::lock_guard lock(mutex());
        live().insert(m_path = path);
    }
    ~TempFolder()
    {
        if (m_path.empty())
            return;
        std::lock_guard lock(mutex());
        remove(m_path);
        live().erase(m_path);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    const std::string &path() const { return m_path; }
    std::string operator/(const std::string &name) const { return m_path + "/" + name; }

    // Removes every folder still there, for a way out that runs no destructors.
    static void removeAll()
    {
        std::lock_guard lock(mutex());
        for (const auto &path : live())
            remove(path);
    }

private:
    static void remove(const std::string &path)
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    static std::mutex &mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::set<std::string> &live()
    {
        static std::set<std::string> paths;
        return paths;
    }

    std::string m_path;
};

} // namespace testsupport
