#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace nettest {

using Packet = std::vector<uint8_t>;

// A UDP socket on `address`:`port` (host order; port 0: any free one), for output and e2e tests.
class UdpReceiver
{
public:
    explicit UdpReceiver(uint16_t port = 0, uint32_t address = 0x7f000001)
    {
        sockaddr_in sa { AF_INET, htons(port), { htonl(address) }, {} };
        socklen_t size = sizeof sa;
        if (bind(m_fd, (sockaddr *)&sa, size) || getsockname(m_fd, (sockaddr *)&sa, &size))
            close(m_fd), m_fd = -1;
        m_port = ntohs(sa.sin_port);
    }
    UdpReceiver(UdpReceiver &&) = delete;
    ~UdpReceiver() { close(m_fd); }
    bool ok() const { return m_fd >= 0; }
    uint16_t port() const { return m_port; }
    int fd() const { return m_fd; }
    bool joinGroup(uint32_t group, uint32_t on = INADDR_LOOPBACK) // on the interface with `on`
    {
        const ip_mreq request { { htonl(group) }, { htonl(on) } };
        return !setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request);
    }
    std::optional<Packet> receive(int timeoutMs = 3000) // nothing after `timeoutMs`
    {
        pollfd pfd { m_fd, POLLIN, 0 };
        Packet packet(2048);
        const ssize_t n = poll(&pfd, 1, timeoutMs) > 0 ? recv(m_fd, packet.data(), 2048, 0) : -1;
        return n < 0 ? std::nullopt : (packet.resize(size_t(n)), std::optional(packet));
    }
    // Drops what is queued and, with `quietMs`, what follows until none comes for that long; false
    // when the sender is not quiet within `boundMs`.
    bool drain(int quietMs = 0, int boundMs = 5000)
    {
        using clock = std::chrono::steady_clock;
        for (const auto end = clock::now() + std::chrono::milliseconds(boundMs); receive(quietMs);)
            if (clock::now() > end)
                return false;
        return true;
    }

private:
    int m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), m_port = 0;
};

// A network namespace held by a child until this object ends; `inside` runs a step there from
// the calling thread, and sockets it makes stay there.
class Netns
{
public:
    Netns()
    {
        int ready[2], hold[2];
        char byte = 0;
        if (pipe2(ready, O_CLOEXEC) || pipe2(hold, O_CLOEXEC) || (m_pid = fork()) < 0)
            return;
        if (m_pid == 0) { // says whether it has its namespace, then waits for EOF
            close(hold[1]), byte = unshare(CLONE_NEWNET) == 0;
            _exit(write(ready[1], &byte, 1) + read(hold[0], &byte, 1) ? 0 : 0);
        }
        if (read(ready[0], &byte, 1) == 1 && byte)
            m_fd = open(
                ("/proc/" + std::to_string(m_pid) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
        close(ready[0]), close(ready[1]), close(hold[0]), m_hold = hold[1];
    }
    Netns(Netns &&) = delete;
    ~Netns() { close(m_fd), close(m_hold), m_pid > 0 && waitpid(m_pid, nullptr, 0); }
    bool ok() const { return m_fd >= 0; }
    pid_t pid() const { return m_pid; }
    void inside(const std::function<void()> &step) const
    {
        const int home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (setns(m_fd, CLONE_NEWNET) == 0)
            step(), setns(home, CLONE_NEWNET);
        close(home);
    }

private:
    pid_t m_pid = -1;
    int m_fd = -1, m_hold = -1;
};

} // namespace nettest
