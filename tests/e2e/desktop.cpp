// Process and X plumbing for the end-to-end tests.
#include "desktop.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace e2e {

namespace {

using namespace std::chrono_literals;

// The programs started and not yet ended, for the suite's bound to end.
std::mutex g_startedMutex;
std::set<int> g_started;
int g_wake[2] = { -1, -1 };

// Waits on its own thread for the suite's bound or a signal to end it; then ends what the suite
// started, removes its folders and exits failed.
class SuiteBound : public ::testing::Environment
{
    void SetUp() override
    {
        if (pipe2(g_wake, O_CLOEXEC) != 0)
            return;
        struct sigaction wake {};
        wake.sa_handler = [](int) { (void)!write(g_wake[1], "", 1); };
        for (const int signal : { SIGTERM, SIGINT, SIGHUP })
            sigaction(signal, &wake, nullptr);
        std::thread([] {
            const auto end = std::chrono::steady_clock::now() + 1s * E2E_SUITE_SECONDS;
            pollfd entry { g_wake[0], POLLIN, 0 };
            while (poll(&entry, 1, std::max(0, int((end - std::chrono::steady_clock::now()) / 1ms))) < 0)
                ; // a signal of another kind: wait on
            const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
            const std::string why = entry.revents ? "signalled"
                                                  : "past the suite's bound of "
                    + std::to_string(E2E_SUITE_SECONDS) + " s";
            const std::string during
                = test ? std::string(test->test_suite_name()) + "." + test->name() : "set-up";
            std::fprintf(stderr, "\n%s during %s: ending its programs, removing its folders\n",
                why.c_str(), during.c_str());
            {
                std::lock_guard lock(g_startedMutex);
                for (const int pid : g_started)
                    kill(pid, SIGKILL);
            }
            TempFolder::removeAll();
            _exit(1);
        }).detach();
    }
};
const auto *const g_suiteBound = ::testing::AddGlobalTestEnvironment(new SuiteBound);

} // namespace

std::string capture(const std::vector<std::string> &argv, bool *ok)
{
    std::string command = "timeout -k 5 30 ";
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
    constexpr std::size_t kReadMax = 4 << 20;
    std::ifstream in(path, std::ios::binary);
    std::string head(kReadMax, '\0');
    head.resize(std::size_t(in.read(head.data(), std::streamsize(head.size())).gcount()));
    if (head.size() == kReadMax && in.peek() != EOF) {
        // Once per trace, not at each look of a wait.
        static std::set<std::string> reported;
        if (reported.insert(path).second)
            ADD_FAILURE() << path << " grew past " << kReadMax
                          << " bytes: the program calls far more often than ten times a second";
        head.erase(head.rfind('\n') + 1);
    }
    std::vector<TraceLine> lines;
    std::istringstream stream(head);
    for (std::string text; std::getline(stream, text);) {
        std::istringstream fields(text);
        TraceLine line;
        fields >> line.seconds >> line.command >> line.length >> line.result >> line.hex;
        if (line.hex.size() == 1024) {
            line.levels.emplace();
            for (std::size_t i = 0; i < 512; ++i)
                std::from_chars(&line.hex[2 * i], &line.hex[2 * i + 2], (*line.levels)[i], 16);
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
    std::lock_guard lock(g_startedMutex);
    if (posix_spawnp(&m_pid, args[0], nullptr, nullptr, args.data(), envp.data()) != 0)
        m_pid = -1;
    else
        g_started.insert(m_pid);
}

int Process::stop()
{
    if (m_pid <= 0 || m_status >= 0)
        return m_status;
    int status = 0;
    bool ended = waitpid(m_pid, &status, WNOHANG) == m_pid;
    if (!ended) {
        kill(m_pid, SIGTERM);
        for (int i = 0; i < 100 && !ended; ++i, std::this_thread::sleep_for(50ms))
            ended = waitpid(m_pid, &status, WNOHANG) == m_pid;
    }
    if (!ended) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
    }
    {
        std::lock_guard lock(g_startedMutex);
        g_started.erase(m_pid);
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
