// A private X server, the real program started as a user starts it, and xdotool to drive it.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace e2e {

// Runs a program to its end and returns its standard output; `ok` tells whether it exited 0.
std::string capture(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
                    bool *ok = nullptr);

// An Xvfb on a display number of its own choosing, stopped with the object.
class Xvfb
{
public:
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb &) = delete;
    Xvfb &operator=(const Xvfb &) = delete;
    bool ok() const { return !m_display.empty(); }
    const std::string &display() const { return m_display; }
    const std::string &error() const { return m_error; }

private:
    int m_pid = -1;
    std::string m_display;
    std::string m_error;
};

// A started program, ended (by its PID) with the object.
class Process
{
public:
    Process(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env);
    ~Process();
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;
    int pid() const { return m_pid; }
    bool running();
    // Ends it and returns its exit status (or 128 + signal).
    int stop();

private:
    int m_pid = -1;
    int m_status = -1;
};

// The console's window on a display: found by its title, driven at window coordinates.
class Window
{
public:
    Window(std::string display, std::string id)
        : m_display(std::move(display))
        , m_id(std::move(id))
    {
    }
    // Waits up to ten seconds for a mapped window with this exact title.
    static Window find(const std::string &display, const std::string &title);
    bool ok() const { return !m_id.empty(); }
    const std::string &id() const { return m_id; }

    // One xdotool command line; several commands chain in one call.
    bool xdo(const std::vector<std::string> &args) const;
    void click(int x, int y) const;
    void drag(int x, int y, int toX, int toY) const;
    void keys(const std::vector<std::string> &names) const;
    // What xwininfo says of the window: "Absolute upper-left X" and the like.
    std::map<std::string, std::string> info() const;
    bool screenshot(const std::string &path) const;

private:
    std::string m_display;
    std::string m_id;
};

} // namespace e2e
