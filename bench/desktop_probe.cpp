// Measuring helper of bench/desktop_bench.sh. "startup" times a program from exec until the X
// server maps its window; "artnet" receives the console's ArtDmx frames on a loopback port and
// reports their period, then presses keys with xdotool and times each press to the first frame
// carrying the new level. All times are steady-clock readings taken in this one process.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

pid_t spawn(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    for (const auto &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
        return -1;
    return pid;
}

// Nearest-rank percentile of an unsorted sample; p in 0..1.
double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = std::size_t(std::ceil(p * double(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

double maxOf(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

double minOf(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

// The X side: titles of top-level windows and the events they raise.
class XServer
{
public:
    XServer()
        : m_connection(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        m_netWmName = atom("_NET_WM_NAME");
        m_utf8 = atom("UTF8_STRING");
    }
    ~XServer() { xcb_disconnect(m_connection); }
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    bool ok() const { return !xcb_connection_has_error(m_connection); }
    xcb_connection_t *connection() const { return m_connection; }
    xcb_window_t root() const { return m_root; }

    // Adds to the events this client hears from `window`, and waits until the server has it.
    void listen(xcb_window_t window, uint32_t mask)
    {
        xcb_change_window_attributes(m_connection, window, XCB_CW_EVENT_MASK, &mask);
        free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

    std::string title(xcb_window_t window)
    {
        std::string text = property(window, m_netWmName, m_utf8);
        return text.empty() ? property(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING) : text;
    }

    // A viewable child of the root with exactly this title, or 0.
    xcb_window_t findMapped(const std::string &wanted)
    {
        xcb_window_t found = 0;
        auto *tree
            = xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr);
        if (!tree)
            return 0;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
            auto *attributes = xcb_get_window_attributes_reply(
                m_connection, xcb_get_window_attributes(m_connection, children[i]), nullptr);
            const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            free(attributes);
            if (viewable && title(children[i]) == wanted)
                found = children[i];
        }
        free(tree);
        return found;
    }

    // The next event within `timeout`, or nullptr; the caller frees it.
    xcb_generic_event_t *next(std::chrono::milliseconds timeout)
    {
        if (auto *event = xcb_poll_for_event(m_connection))
            return event;
        pollfd watched { xcb_get_file_descriptor(m_connection), POLLIN, 0 };
        if (poll(&watched, 1, int(timeout.count())) <= 0)
            return nullptr;
        return xcb_poll_for_event(m_connection);
    }

private:
    xcb_atom_t atom(const char *name)
    {
        auto *reply = xcb_intern_atom_reply(m_connection,
            xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return value;
    }

    std::string property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
    {
        auto *reply = xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, name, type, 0, 256), nullptr);
        std::string text;
        if (reply && reply->format == 8)
            text.assign(static_cast<const char *>(xcb_get_property_value(reply)),
                std::size_t(xcb_get_property_value_length(reply)));
        free(reply);
        return text;
    }

    xcb_connection_t *m_connection;
    xcb_window_t m_root = 0;
    xcb_atom_t m_netWmName = XCB_ATOM_NONE, m_utf8 = XCB_ATOM_NONE;
};

// The program being timed, ended with this process if the run is interrupted.
volatile sig_atomic_t g_timed = 0;

extern "C" void endTimed(int signal)
{
    if (g_timed > 0)
        kill(pid_t(g_timed), SIGTERM);
    _exit(128 + signal);
}

// Exec to mapped window: the root's substructure events are heard before the program starts,
// so the map is seen the moment the server makes it, without polling.
int startup(const std::string &title, const std::vector<std::string> &argv)
{
    std::signal(SIGTERM, endTimed);
    std::signal(SIGINT, endTimed);
    std::signal(SIGHUP, endTimed);
    XServer x;
    if (!x.ok()) {
        std::fprintf(stderr, "desktop_probe: cannot open the display\n");
        return 2;
    }
    x.listen(x.root(), XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
    const auto started = Clock::now();
    const pid_t pid = spawn(argv);
    if (pid <= 0) {
        std::fprintf(stderr, "desktop_probe: cannot start %s\n", argv[0].c_str());
        return 2;
    }
    g_timed = pid;
    std::optional<double> mappedAfter;
    while (!mappedAfter && Clock::now() - started < 30s) {
        xcb_generic_event_t *event = x.next(50ms);
        if (!event) {
            if (int status = 0; waitpid(pid, &status, WNOHANG) == pid) {
                std::fprintf(stderr, "desktop_probe: %s ended before its window was mapped\n",
                    argv[0].c_str());
                return 2;
            }
            continue;
        }
        if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
            const auto at = Clock::now();
            const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
            if (x.title(map->window) == title)
                mappedAfter = msBetween(started, at);
        }
        free(event);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    g_timed = 0;
    if (!mappedAfter) {
        std::fprintf(stderr, "desktop_probe: no window titled \"%s\" within 30 s\n", title.c_str());
        return 2;
    }
    std::printf("%.1f\n", *mappedAfter);
    return 0;
}

struct Frame
{
    Clock::time_point at;
    uint8_t sequence;
    uint8_t channel1;
};

// ArtDmx frames arriving on a loopback port, each stamped as it is taken from the socket.
class ArtDmxListener
{
public:
    ArtDmxListener()
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        timeval wake { 0, 100000 };
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0
            || setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wake, sizeof wake) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { receive(); });
    }
    ~ArtDmxListener()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            close(m_fd);
    }
    ArtDmxListener(const ArtDmxListener &) = delete;
    ArtDmxListener &operator=(const ArtDmxListener &) = delete;

    int port() const { return m_port; }
    int others() const { return m_others; }

    // The first `count` frames, waiting at most `timeout` for them.
    std::vector<Frame> first(std::size_t count, Clock::duration timeout)
    {
        std::unique_lock lock(m_mutex);
        m_arrived.wait_for(lock, timeout, [&] { return m_frames.size() >= count; });
        return { m_frames.begin(), m_frames.begin() + long(std::min(count, m_frames.size())) };
    }
    std::size_t count()
    {
        std::lock_guard lock(m_mutex);
        return m_frames.size();
    }
    // The first frame from index `from` on whose channel 1 is `level`.
    std::optional<Frame> awaitLevel(std::size_t from, uint8_t level, Clock::duration timeout)
    {
        std::unique_lock lock(m_mutex);
        std::optional<Frame> found;
        m_arrived.wait_for(lock, timeout, [&] {
            for (; from < m_frames.size() && !found; ++from)
                if (m_frames[from].channel1 == level)
                    found = m_frames[from];
            return found.has_value();
        });
        return found;
    }
    std::optional<Frame> last()
    {
        std::lock_guard lock(m_mutex);
        if (m_frames.empty())
            return std::nullopt;
        return m_frames.back();
    }

private:
    void receive()
    {
        uint8_t packet[1024];
        while (!m_stop) {
            const ssize_t size = recv(m_fd, packet, sizeof packet, 0);
            const auto at = Clock::now();
            if (size < 0)
                continue;
            // An ArtDmx of a full universe: ID, OpDmx low byte first, length 512 high byte first.
            const bool artDmx = size == 530 && std::memcmp(packet, "Art-Net\0", 8) == 0
                && packet[8] == 0x00 && packet[9] == 0x50 && packet[16] == 0x02
                && packet[17] == 0x00;
            if (!artDmx) {
                ++m_others;
                continue;
            }
            {
                std::lock_guard lock(m_mutex);
                m_frames.push_back({ at, packet[12], packet[18] });
            }
            m_arrived.notify_all();
        }
    }

    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_others { 0 };
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<Frame> m_frames;
    std::thread m_thread;
};

// Key presses delivered to one window, stamped as this client hears them; the server hands the
// same event to the window's own client at that moment.
class KeyWatch
{
public:
    KeyWatch(XServer &x, xcb_window_t window)
        : m_x(x)
    {
        m_x.listen(window, XCB_EVENT_MASK_KEY_PRESS);
        m_thread = std::thread([this] {
            while (!m_stop) {
                xcb_generic_event_t *event = m_x.next(100ms);
                if (!event)
                    continue;
                const auto at = Clock::now();
                if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
                    std::lock_guard lock(m_mutex);
                    m_presses.push_back(at);
                }
                free(event);
                m_pressed.notify_all();
            }
        });
    }
    ~KeyWatch()
    {
        m_stop = true;
        m_thread.join();
    }
    KeyWatch(const KeyWatch &) = delete;
    KeyWatch &operator=(const KeyWatch &) = delete;

    std::size_t count()
    {
        std::lock_guard lock(m_mutex);
        return m_presses.size();
    }
    std::optional<Clock::time_point> await(std::size_t index, Clock::duration timeout)
    {
        std::unique_lock lock(m_mutex);
        if (!m_pressed.wait_for(lock, timeout, [&] { return m_presses.size() > index; }))
            return std::nullopt;
        return m_presses[index];
    }

private:
    XServer &m_x;
    std::atomic<bool> m_stop { false };
    std::mutex m_mutex;
    std::condition_variable m_pressed;
    std::vector<Clock::time_point> m_presses;
    std::thread m_thread;
};

void report(const char *name, double value) { std::printf("%s=%.2f\n", name, value); }
void report(const char *name, long value) { std::printf("%s=%ld\n", name, value); }

// A plain thread waking every 100 ms on the steady clock, with no Qt and no X: how late this
// machine lets any sleeper wake while the console's frames are measured.
class ReferenceTicker
{
public:
    ReferenceTicker()
        : m_thread([this] {
            auto next = Clock::now();
            while (!m_stop) {
                next += 100ms;
                std::this_thread::sleep_until(next);
                m_wakes.push_back(Clock::now());
            }
        })
    {
    }
    ~ReferenceTicker() { stop(); }
    ReferenceTicker(const ReferenceTicker &) = delete;
    ReferenceTicker &operator=(const ReferenceTicker &) = delete;

    // Ends the ticker and returns the intervals between its wakes.
    std::vector<double> stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        std::vector<double> intervals;
        for (std::size_t i = 1; i < m_wakes.size(); ++i)
            intervals.push_back(msBetween(m_wakes[i - 1], m_wakes[i]));
        return intervals;
    }

private:
    std::atomic<bool> m_stop { false };
    std::vector<Clock::time_point> m_wakes;
    std::thread m_thread;
};

// Interval statistics and missed frames over `frames` consecutive intervals.
bool period(ArtDmxListener &listener, long frames)
{
    // The first frame after the output opens can follow the open rather than a tick; start after
    // it.
    constexpr std::size_t kSkip = 2;
    ReferenceTicker reference;
    const auto got = listener.first(kSkip + std::size_t(frames) + 1, 20s + frames * 200ms);
    const std::vector<double> referenceIntervals = reference.stop();
    if (got.size() < kSkip + std::size_t(frames) + 1) {
        std::fprintf(stderr, "desktop_probe: only %zu frames arrived\n", got.size());
        return false;
    }
    std::vector<double> intervals;
    long sequenceGaps = 0, missedBySequence = 0, late = 0, zeroSequence = 0;
    for (std::size_t i = kSkip + 1; i < got.size(); ++i) {
        const double interval = msBetween(got[i - 1].at, got[i].at);
        intervals.push_back(interval);
        late += interval > 150;
        // The sequence runs 1..255 and then 1 again; 0 would mean sequencing is off.
        const int previous = got[i - 1].sequence, current = got[i].sequence;
        zeroSequence += current == 0;
        const int expected = previous == 255 ? 1 : previous + 1;
        if (current != expected && current != 0) {
            ++sequenceGaps;
            missedBySequence += (current - expected + 255) % 255;
        }
    }
    double sum = 0;
    for (double interval : intervals)
        sum += interval;
    report("period_intervals", long(intervals.size()));
    report("period_mean_ms", sum / double(intervals.size()));
    report("period_min_ms", minOf(intervals));
    report("period_p50_ms", percentile(intervals, 0.50));
    report("period_p99_ms", percentile(intervals, 0.99));
    report("period_max_ms", maxOf(intervals));
    report("period_sequence_gaps", sequenceGaps);
    report("period_frames_missed_by_sequence", missedBySequence);
    report("period_intervals_over_150ms", late);
    report("period_zero_sequence", zeroSequence);
    report("reference_intervals", long(referenceIntervals.size()));
    report("reference_p50_ms", percentile(referenceIntervals, 0.50));
    report("reference_p99_ms", percentile(referenceIntervals, 0.99));
    report("reference_max_ms", maxOf(referenceIntervals));
    report("reference_min_ms", minOf(referenceIntervals));
    return true;
}

// Presses Up `moves` times on the focused fader of the window titled `title`, each at a
// scattered phase of the 100 ms tick, and times each press to the first frame with the new level.
bool latency(ArtDmxListener &listener, const std::string &title, long moves)
{
    XServer x;
    const xcb_window_t window = x.ok() ? x.findMapped(title) : 0;
    if (!window) {
        std::fprintf(stderr, "desktop_probe: no mapped window titled \"%s\"\n", title.c_str());
        return false;
    }
    KeyWatch keys(x, window);
    const auto before = listener.last();
    if (!before)
        return false;
    int level = before->channel1;
    std::minstd_rand phase(20240601);
    std::uniform_int_distribution<int> scatter(0, 99);
    std::vector<double> fromKey, fromExit, fromSpawn, xdotoolRun;
    long lost = 0;
    for (long move = 0; move < moves; ++move) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250 + scatter(phase)));
        const uint8_t wanted = uint8_t(level + 1);
        const std::size_t frameIndex = listener.count(), keyIndex = keys.count();
        const auto spawned = Clock::now();
        // No delay between press and release, so the press is the last thing before exit.
        const pid_t pid = spawn({ "xdotool", "key", "--delay", "0", "Up" });
        if (pid <= 0)
            return false;
        waitpid(pid, nullptr, 0);
        const auto exited = Clock::now();
        const auto pressed = keys.await(keyIndex, 2s);
        const auto frame = listener.awaitLevel(frameIndex, wanted, 2s);
        if (!pressed || !frame) {
            ++lost;
            continue;
        }
        level = wanted;
        fromKey.push_back(msBetween(*pressed, frame->at));
        fromExit.push_back(msBetween(exited, frame->at));
        fromSpawn.push_back(msBetween(spawned, frame->at));
        xdotoolRun.push_back(msBetween(spawned, exited));
    }
    report("latency_moves", long(fromKey.size()));
    report("latency_lost", lost);
    report("latency_from_key_p50_ms", percentile(fromKey, 0.5));
    report("latency_from_key_max_ms", maxOf(fromKey));
    report("latency_from_key_min_ms", minOf(fromKey));
    report("latency_from_xdotool_exit_p50_ms", percentile(fromExit, 0.5));
    report("latency_from_xdotool_exit_max_ms", maxOf(fromExit));
    report("latency_from_xdotool_spawn_p50_ms", percentile(fromSpawn, 0.5));
    report("latency_from_xdotool_spawn_max_ms", maxOf(fromSpawn));
    report("xdotool_run_p50_ms", percentile(xdotoolRun, 0.5));
    report("xdotool_run_max_ms", maxOf(xdotoolRun));
    return lost == 0;
}

// Binds an ephemeral loopback port, writes it to `portFile`, measures the period over `frames`
// intervals once frames flow, then the latency over `moves` key presses.
int artnet(const std::string &portFile, const std::string &title, long frames, long moves)
{
    ArtDmxListener listener;
    if (!listener.port()) {
        std::fprintf(stderr, "desktop_probe: cannot bind a loopback port\n");
        return 2;
    }
    {
        const std::string partial = portFile + ".part";
        std::ofstream(partial) << listener.port() << '\n';
        std::rename(partial.c_str(), portFile.c_str());
    }
    if (listener.first(1, 60s).empty()) {
        std::fprintf(stderr, "desktop_probe: no ArtDmx frame within 60 s\n");
        return 2;
    }
    const bool periodOk = period(listener, frames);
    std::fflush(stdout);
    const bool latencyOk = periodOk && latency(listener, title, moves);
    report("other_datagrams", long(listener.others()));
    return periodOk && latencyOk ? 0 : 1;
}

int usage()
{
    std::fprintf(stderr,
        "usage: desktop_probe startup TITLE PROGRAM [ARG...]\n"
        "       desktop_probe artnet PORT_FILE TITLE FRAMES MOVES\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 3 && args[0] == "startup")
        return startup(args[1], { args.begin() + 2, args.end() });
    if (args.size() == 5 && args[0] == "artnet")
        return artnet(args[1], args[2], std::stol(args[3]), std::stol(args[4]));
    return usage();
}
