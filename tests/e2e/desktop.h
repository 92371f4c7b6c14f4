// The real program started as a user starts it, and its window driven through the X server.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace e2e {

// Runs a command line (arguments quoted, so no shell metacharacters needed) and returns its output.
std::string capture(const std::vector<std::string> &argv, bool *ok = nullptr);

// A started program, ended by its PID with the object.
class Process
{
public:
    Process(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env);
    ~Process() { stop(); }
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;
    // Ends it and returns its exit status, or 128 + the signal that ended it.
    int stop();

private:
    int m_pid = -1;
    int m_status = -1;
};

// A window of the X server in DISPLAY, driven with xdotool at window coordinates.
class Window
{
public:
    // Waits up to ten seconds for a mapped window with exactly this title.
    static Window find(const std::string &title);
    bool ok() const { return !m_id.empty(); }
    const std::string &id() const { return m_id; }

    // One xdotool call; several commands chain in one call.
    bool xdo(const std::vector<std::string> &args) const;
    void click(int x, int y) const;
    void drag(int x, int y, int toX, int toY) const;
    void keys(const std::vector<std::string> &names) const;
    // xwininfo's fields, e.g. "Absolute upper-left X" -> "352".
    std::map<std::string, std::string> info() const;
    bool screenshot(const std::string &path) const;

private:
    std::string m_id;
};

} // namespace e2e
