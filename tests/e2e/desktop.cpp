// Process and X plumbing for the end-to-end tests.
#include "desktop.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace e2e {

std::string capture(const std::vector<std::string> &argv, bool *ok)
{
    std::string command;
    for (const auto &arg : argv)
        command += "'" + arg + "' ";
    std::string out;
    FILE *pipe = popen((command + "2>/dev/null").c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    const int status = pclose(pipe);
    if (ok)
        *ok = status == 0;
    return out;
}

std::vector<TraceLine> readTrace(const std::string &path)
{
    std::vector<TraceLine> lines;
    std::ifstream in(path);
    for (std::string text; std::getline(in, text);) {
        std::istringstream fields(text);
        TraceLine line;
        fields >> line.seconds >> line.command >> line.length >> line.result >> line.hex;
        if (line.hex.size() == 1024) {
            line.levels.emplace();
            for (std::size_t i = 0; i < 512; ++i)
                (*line.levels)[i] = uint8_t(std::stoi(line.hex.substr(2 * i, 2), nullptr, 16));
        }
        lines.push_back(line);
    }
    return lines;
}

Process::Process(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env)
{
    std::map<std::string, std::string> merged;
    for (char **entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        merged[text.substr(0, text.find('='))] = text.substr(text.find('=') + 1);
    }
    for (const auto &[name, value] : env)
        merged[name] = value;
    std::vector<std::string> envText;
    for (const auto &[name, value] : merged)
        envText.push_back(name + "=" + value);
    std::vector<char *> args, envp;
    for (const auto &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    for (const auto &entry : envText)
        envp.push_back(const_cast<char *>(entry.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    if (posix_spawnp(&m_pid, args[0], nullptr, nullptr, args.data(), envp.data()) != 0)
        m_pid = -1;
}

int Process::stop()
{
    if (m_pid <= 0 || m_status >= 0)
        return m_status;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, &status, 0);
    }
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m_status;
}

Window Window::find(const std::string &title)
{
    Window window;
    for (int i = 0; i < 100 && !window.ok(); ++i) {
        const std::string out = capture({ "xdotool", "search", "--onlyvisible", "--name", "^" + title + "$" });
        window.m_id = out.substr(0, out.find('\n'));
        if (!window.ok())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return window;
}

bool Window::xdo(const std::vector<std::string> &args) const
{
    std::vector<std::string> argv { "xdotool" };
    argv.insert(argv.end(), args.begin(), args.end());
    bool ok = false;
    capture(argv, &ok);
    return ok;
}

void Window::click(int x, int y) const
{
    xdo({ "mousemove", "--window", m_id, std::to_string(x), std::to_string(y), "click", "1" });
}

void Window::drag(int x, int y, int toX, int toY) const
{
    std::vector<std::string> args { "mousemove", "--window", m_id, std::to_string(x), std::to_string(y),
                                    "mousedown", "1" };
    // In steps, as a hand moves, so the slider sees the thumb travel.
    for (int i = 1; i <= 8; ++i)
        args.insert(args.end(), { "mousemove", "--window", m_id, std::to_string(x + (toX - x) * i / 8),
                                  std::to_string(y + (toY - y) * i / 8), "sleep", "0.02" });
    args.insert(args.end(), { "mouseup", "1" });
    xdo(args);
}

void Window::keys(const std::vector<std::string> &names) const
{
    std::vector<std::string> args { "windowfocus", "--sync", m_id, "key", "--delay", "20" };
    args.insert(args.end(), names.begin(), names.end());
    xdo(args);
}

std::map<std::string, std::string> Window::info() const
{
    std::map<std::string, std::string> fields;
    std::istringstream lines(capture({ "xwininfo", "-id", m_id }));
    std::string line;
    auto trim = [](std::string s) {
        s.erase(0, s.find_first_not_of(" \t\""));
        return s.erase(s.find_last_not_of(" \t\"") + 1);
    };
    while (std::getline(lines, line))
        if (const auto colon = line.find(':'); colon != std::string::npos)
            fields[trim(line.substr(0, colon))] = trim(line.substr(colon + 1));
    return fields;
}

bool Window::screenshot(const std::string &path) const
{
    bool ok = false;
    capture({ "import", "-window", m_id, path }, &ok);
    return ok;
}

} // namespace e2e
