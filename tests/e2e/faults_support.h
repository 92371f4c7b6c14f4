// Peers that fail on purpose for the fault tests: a USB Pro widget on a pseudo-terminal that can
// be unplugged and plugged back in, and a private network namespace for a daemon to die in.
#pragma once

#include "desktop.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

// A DMX USB Pro widget played on the master side of a pseudo-terminal. The program reaches it
// through a symlink, as through a by-id device name, so a new terminal can stand in for it.
class PtyWidget
{
public:
    explicit PtyWidget(std::string link)
        : m_link(std::move(link))
    {
    }
    ~PtyWidget() { unplug(); }
    PtyWidget(const PtyWidget &) = delete;
    PtyWidget &operator=(const PtyWidget &) = delete;

    // A fresh terminal behind the link, answering the serial number request and keeping the
    // levels of every DMX message it receives.
    bool plug();
    // Closes the master: the program's side of the line hangs up.
    void unplug();
    const std::string &path() const { return m_link; }
    // Levels of the DMX messages received since the last plug, oldest first.
    std::vector<Levels> frames() const;

private:
    void serve();

    std::string m_link;
    int m_master = -1;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<Levels> m_frames;
};

// A network namespace with only lo, held by a sleeping process of our own and left with it.
class PrivateNetwork
{
public:
    // `folder` is the test's, for a moment's note.
    explicit PrivateNetwork(const std::string &folder);
    bool ok() const { return !m_enter.empty(); }
    // The command prefix that runs a program inside the namespace.
    const std::vector<std::string> &enter() const { return m_enter; }

private:
    std::unique_ptr<Process> m_holder;
    std::vector<std::string> m_enter;
};

} // namespace e2e
