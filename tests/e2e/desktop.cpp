// Process and X plumbing for the end-to-end tests.
#include "desktop.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace e2e {

namespace {

// Starts argv with the environment plus `env`; stdout to `outFd` when given.
int spawn(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
          int outFd = -1, int keepFd = -1)
{
    const int pid = fork();
    if (pid != 0)
        return pid;
    for (const auto &[name, value] : env)
        setenv(name.c_str(), value.c_str(), 1);
    if (outFd >= 0)
        dup2(outFd, 1);
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keepFd)
            close(fd);
    std::vector<char *> args;
    for (const auto &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

int waitFor(int pid, int timeoutMs)
{
    int status = 0;
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return 128 + SIGKILL;
}

} // namespace

std::string capture(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
                    bool *ok)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const int pid = spawn(argv, env, fds[1]);
    close(fds[1]);
    std::string out;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, std::size_t(n));
    close(fds[0]);
    const int status = waitFor(pid, 30000);
    if (ok)
        *ok = status == 0;
    return out;
}

Xvfb::Xvfb()
{
    int fds[2];
    if (pipe(fds) != 0) {
        m_error = "pipe failed";
        return;
    }
    // -displayfd lets the server take a free display number and tell us which.
    m_pid = spawn({ "Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24",
                    "-nolisten", "tcp" },
                  {}, -1, fds[1]);
    close(fds[1]);
    std::string number;
    pollfd p { fds[0], POLLIN, 0 };
    while (poll(&p, 1, 10000) > 0) {
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        m_error = "Xvfb did not start (is the xvfb package installed?)";
        return;
    }
    m_display = ":" + number;
}

Xvfb::~Xvfb()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitFor(m_pid, 5000);
    }
}

Process::Process(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env)
    : m_pid(spawn(argv, env))
{
}

Process::~Process() { stop(); }

bool Process::running()
{
    if (m_status >= 0)
        return false;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

int Process::stop()
{
    if (m_pid > 0 && running()) {
        kill(m_pid, SIGTERM);
        m_status = waitFor(m_pid, 5000);
    }
    return m_status;
}

Window Window::find(const std::string &display, const std::string &title)
{
    for (int i = 0; i < 100; ++i) {
        bool ok = false;
        std::string out = capture({ "xdotool", "search", "--onlyvisible", "--name", "^" + title + "$" },
                                  { { "DISPLAY", display } }, &ok);
        if (ok && !out.empty())
            return Window(display, out.substr(0, out.find('\n')));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return Window(display, "");
}

bool Window::xdo(const std::vector<std::string> &args) const
{
    std::vector<std::string> argv { "xdotool" };
    argv.insert(argv.end(), args.begin(), args.end());
    bool ok = false;
    capture(argv, { { "DISPLAY", m_display } }, &ok);
    return ok;
}

void Window::click(int x, int y) const
{
    xdo({ "mousemove", "--window", m_id, std::to_string(x), std::to_string(y), "click", "1" });
}

void Window::drag(int x, int y, int toX, int toY) const
{
    std::vector<std::string> args { "mousemove", "--window", m_id, std::to_string(x),
                                    std::to_string(y), "mousedown", "1" };
    // Move in steps, as a hand does, so the slider sees the thumb travel.
    for (int i = 1; i <= 8; ++i) {
        const int sx = x + (toX - x) * i / 8, sy = y + (toY - y) * i / 8;
        for (const std::string &arg : { std::string("mousemove"), std::string("--window"), m_id,
                                        std::to_string(sx), std::to_string(sy), std::string("sleep"),
                                        std::string("0.02") })
            args.push_back(arg);
    }
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
    std::istringstream lines(capture({ "xwininfo", "-id", m_id }, { { "DISPLAY", m_display } }));
    std::string line;
    while (std::getline(lines, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        auto trim = [](std::string s) {
            s.erase(0, s.find_first_not_of(" \t\""));
            s.erase(s.find_last_not_of(" \t\"") + 1);
            return s;
        };
        fields[trim(line.substr(0, colon))] = trim(line.substr(colon + 1));
    }
    return fields;
}

bool Window::screenshot(const std::string &path) const
{
    bool ok = false;
    capture({ "import", "-window", m_id, path }, { { "DISPLAY", m_display } }, &ok);
    return ok;
}

} // namespace e2e
