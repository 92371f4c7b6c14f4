// The network test helpers: sockets, fd 2 redirection, and the namespace child.
#include "net_support.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace nettest {

namespace {

constexpr int kSkipStatus = 77;

sockaddr_in inetAddress(uint32_t address, uint16_t port)
{
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    return sa;
}

std::string errnoText(const char *step) { return std::string(step) + ": " + std::strerror(errno); }

// Brings lo up and routes the multicast range over it, all in this process's namespace.
std::string setUpLoopback()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errnoText("socket");
    ifreq ifr {};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    std::string problem;
    if (ioctl(fd, SIOCGIFFLAGS, &ifr) < 0) {
        problem = errnoText("SIOCGIFFLAGS lo");
    } else {
        ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
        if (ioctl(fd, SIOCSIFFLAGS, &ifr) < 0)
            problem = errnoText("SIOCSIFFLAGS lo up");
    }
    if (problem.empty()) {
        rtentry route {};
        char device[] = "lo";
        auto dst = inetAddress(0xef000000, 0);
        auto mask = inetAddress(0xff000000, 0);
        std::memcpy(&route.rt_dst, &dst, sizeof dst);
        std::memcpy(&route.rt_genmask, &mask, sizeof mask);
        route.rt_flags = RTF_UP;
        route.rt_dev = device;
        if (ioctl(fd, SIOCADDRT, &route) < 0)
            problem = errnoText("SIOCADDRT 239.0.0.0/8 dev lo");
    }
    close(fd);
    return problem;
}

void writeAll(int fd, const std::string &text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

std::string readAll(int fd)
{
    std::string text;
    char chunk[4096];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            text.append(chunk, static_cast<std::size_t>(n));
    return text;
}

} // namespace

Levels patternFrame(uint8_t seed)
{
    Levels levels {};
    for (std::size_t i = 0; i < levels.size(); ++i)
        levels[i] = static_cast<uint8_t>(i * 7 + seed);
    levels[0] = 0x00;
    levels[1] = 0xff;
    levels[2] = 0x0a;
    levels[3] = 0x7e;
    levels[511] = 0xe7;
    return levels;
}

::testing::AssertionResult bytesEqual(
    std::span<const uint8_t> expected, std::span<const uint8_t> actual)
{
    if (expected.size() != actual.size())
        return ::testing::AssertionFailure()
            << "size " << actual.size() << ", expected " << expected.size();
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (expected[i] != actual[i])
            return ::testing::AssertionFailure()
                << "first difference at index " << i << ": 0x" << std::hex << int(actual[i])
                << ", expected 0x" << int(expected[i]);
    return ::testing::AssertionSuccess();
}

UdpReceiver::UdpReceiver(uint16_t port, uint32_t address)
{
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return;
    const int on = 1;
    setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    auto sa = inetAddress(address, port);
    socklen_t size = sizeof sa;
    if (bind(m_fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) < 0
        || getsockname(m_fd, reinterpret_cast<sockaddr *>(&sa), &size) < 0) {
        close(m_fd);
        m_fd = -1;
        return;
    }
    m_port = ntohs(sa.sin_port);
}

UdpReceiver::~UdpReceiver()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool UdpReceiver::joinGroup(uint32_t group)
{
    ip_mreq request {};
    request.imr_multiaddr.s_addr = htonl(group);
    request.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
    return setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0;
}

std::optional<Packet> UdpReceiver::receive(int timeoutMs)
{
    pollfd pfd { m_fd, POLLIN, 0 };
    if (poll(&pfd, 1, timeoutMs) <= 0)
        return std::nullopt;
    Packet packet(2048);
    const ssize_t n = recv(m_fd, packet.data(), packet.size(), 0);
    if (n < 0)
        return std::nullopt;
    packet.resize(static_cast<std::size_t>(n));
    return packet;
}

uint16_t unusedLoopbackPort()
{
    UdpReceiver probe;
    return probe.port();
}

StderrCapture::StderrCapture()
{
    std::fflush(stderr);
    char path[] = "/tmp/das-stderr-XXXXXX";
    m_file = mkstemp(path);
    if (m_file < 0)
        return;
    unlink(path);
    m_saved = dup(STDERR_FILENO);
    dup2(m_file, STDERR_FILENO);
}

StderrCapture::~StderrCapture() { text(); }

std::string StderrCapture::text()
{
    if (m_saved < 0)
        return {};
    std::fflush(stderr);
    dup2(m_saved, STDERR_FILENO);
    close(m_saved);
    m_saved = -1;
    lseek(m_file, 0, SEEK_SET);
    std::string captured = readAll(m_file);
    close(m_file);
    m_file = -1;
    return captured;
}

std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

ChildOutcome runInPrivateNetwork(const std::function<std::string()> &body)
{
    int report[2];
    if (pipe2(report, O_CLOEXEC) < 0)
        return { ChildOutcome::Failed, errnoText("pipe") };
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return { ChildOutcome::Failed, errnoText("fork") };
    }
    if (child == 0) {
        close(report[0]);
        int status = 0;
        std::string message;
        // The namespace belongs to this child alone: nothing sent here reaches a real network.
        if (unshare(CLONE_NEWNET) < 0) {
            message = "cannot make a private network namespace (needs root or CAP_SYS_ADMIN): "
                + errnoText("unshare");
            status = kSkipStatus;
        } else if (message = setUpLoopback(); !message.empty()) {
            status = kSkipStatus;
        } else {
            try {
                message = body();
            } catch (const std::exception &e) {
                message = std::string("exception: ") + e.what();
            }
            status = message.empty() ? 0 : 1;
        }
        writeAll(report[1], message);
        _exit(status);
    }
    close(report[1]);
    std::string message = readAll(report[0]);
    close(report[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kSkipStatus)
        return { ChildOutcome::Skipped, message };
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return { ChildOutcome::Passed, {} };
    if (message.empty())
        message = "child ended abnormally, status " + std::to_string(status);
    return { ChildOutcome::Failed, message };
}

} // namespace nettest
