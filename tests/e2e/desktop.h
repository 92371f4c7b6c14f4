// The real program started as a user starts it, and its window driven through the X server.
#pragma once

#include "temp_folder.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using testsupport::TempFolder;

using Levels = std::array<uint8_t, 512>;

// Window coordinates of the controls the operator uses.
constexpr int kToggleX = 42, kToggleY = 20;
constexpr int kClearX = 120, kClearY = 68;
inline int pageX(int n) { return 152 + 56 * ((n - 1) % 8) + 28; }
inline int pageY(int n) { return 8 + 24 * ((n - 1) / 8) + 8; }
inline int faderX(int k) { return 96 + 32 * (k - 1) + 12; }
// Inside the groove above a fader's thumb, well clear of it while the level is low.
constexpr int kFaderGrooveY = 174;
// The thumb of a fader at level 0, just above the bottom arrow.
constexpr int kThumbAtBottomY = 368;

// One line of the output library's trace; `levels` only for a sent frame.
struct TraceLine
{
    double seconds = 0;
    int command = 0, length = 0, result = 0;
    std::string hex;
    std::optional<Levels> levels;
};
// The lines of the first 4 MiB of a trace, minutes of calls at the program's ten a second. A
// longer trace fails the test: the program calls far more often than it should.
std::vector<TraceLine> readTrace(const std::string &path);

// Runs a command line (arguments quoted, so no shell metacharacters needed) for at most 30 s and
// returns its output.
std::string capture(const std::vector<std::string> &argv, bool *ok = nullptr);

// A started program, ended by its PID with the object, or by the suite's own bound: past
// E2E_SUITE_SECONDS, or at SIGTERM, SIGINT or SIGHUP, the suite ends every program it started,
// removes every test's folder and exits failed, well before ctest's timeout kills it outright.
class Process
{
public:
    Process(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env);
    ~Process() { stop(); }
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;
    // Ends it (SIGTERM, after five seconds SIGKILL) and returns its exit status, or 128 + the
    // signal that ended it.
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
