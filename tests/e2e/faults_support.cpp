// The failing peers of the fault tests: the pseudo-terminal widget and the private network.
#include "faults_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <unistd.h>

namespace e2e {

using namespace std::chrono_literals;

bool PtyWidget::plug()
{
    unplug();
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return false;
    const char *slave = ptsname(m_master);
    unlink(m_link.c_str());
    if (!slave || symlink(slave, m_link.c_str()) != 0)
        return false;
    m_frames.clear();
    m_stop = false;
    m_thread = std::thread([this] { serve(); });
    return true;
}

void PtyWidget::unplug()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_master >= 0)
        close(m_master);
    m_master = -1;
}

std::vector<Levels> PtyWidget::frames() const
{
    std::lock_guard lock(m_mutex);
    return m_frames;
}

void PtyWidget::serve()
{
    // Serial number request in, serial number reply out.
    static constexpr uint8_t kReply[] = { 0x7E, 0x0A, 0x04, 0x00, 0x78, 0x56, 0x34, 0x12, 0xE7 };
    std::vector<uint8_t> pending;
    while (!m_stop) {
        pollfd entry { m_master, POLLIN, 0 };
        uint8_t chunk[4096];
        const ssize_t got = poll(&entry, 1, 50) > 0 ? read(m_master, chunk, sizeof chunk) : 0;
        if (got <= 0) {
            // No program has the line open yet (or any more): the master reads as hung up.
            if (entry.revents & POLLHUP)
                std::this_thread::sleep_for(10ms);
            continue;
        }
        pending.insert(pending.end(), chunk, chunk + got);
        // Messages: 7E, label, length (little-endian), payload, E7.
        std::size_t at = 0;
        for (;;) {
            while (at < pending.size() && pending[at] != 0x7E)
                ++at;
            if (pending.size() - at < 4)
                break;
            const std::size_t length = pending[at + 2] | pending[at + 3] << 8;
            if (length > 600) {
                ++at;
                continue;
            }
            if (at + 5 + length > pending.size())
                break;
            if (pending[at + 4 + length] != 0xE7) {
                ++at;
                continue;
            }
            const uint8_t *payload = &pending[at + 4];
            if (pending[at + 1] == 10 && length == 0 && write(m_master, kReply, sizeof kReply) < 0)
                return;
            if (pending[at + 1] == 6 && length == 513 && payload[0] == 0) {
                std::lock_guard lock(m_mutex);
                m_frames.emplace_back();
                std::copy(payload + 1, payload + 513, m_frames.back().begin());
            }
            at += 5 + length;
        }
        pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(at));
    }
}

PrivateNetwork::PrivateNetwork(const std::string &folder)
{
    const std::string ready = folder + "/netns-pid";
    // The holder says its PID only once it is inside the namespace with lo up.
    m_holder = std::make_unique<Process>(
        std::vector<std::string> { "unshare", "-n", "sh", "-c",
            "ip link set lo up && echo $$ >\"$0.tmp\" && mv \"$0.tmp\" \"$0\" "
            "&& exec sleep 3600",
            ready },
        std::map<std::string, std::string> {});
    std::string pid;
    for (int i = 0; i < 100 && pid.empty(); ++i) {
        std::this_thread::sleep_for(50ms);
        std::getline(std::ifstream(ready), pid);
    }
    std::remove(ready.c_str());
    if (!pid.empty())
        m_enter = { "nsenter", "--net=/proc/" + pid + "/ns/net" };
}

} // namespace e2e
