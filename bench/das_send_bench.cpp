// Cost of one DasCall command 4 on the Art-Net and sACN outputs, and of building each packet
// alone. Every operator new in the process is counted, so a frame that allocates shows up in
// the allocs/frame counter. The benchmark moves itself into a private network namespace when it
// can, so the well-known ports are free and nothing reaches another program.
#include "dashard.h"
#include "encode/artnet.h"
#include "encode/sacn.h"
#include "net/routing_table.h"

#include <arpa/inet.h>
#include <array>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <net/if.h>
#include <new>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::atomic<long> g_allocations { 0 };

} // namespace

// GCC takes the malloc/free pairing below for a mismatch once it inlines both replacements.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void *operator new(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return operator new(size); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

// A socket bound to 127.0.0.1:`port` that never reads: once its buffer is full the kernel drops
// further datagrams, which costs the sender nothing extra.
class Sink
{
public:
    explicit Sink(uint16_t port)
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof sa;
        if (m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0
            && getsockname(m_fd, reinterpret_cast<sockaddr *>(&sa), &size) == 0)
            m_port = ntohs(sa.sin_port);
    }
    ~Sink()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    uint16_t port() const { return m_port; }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

bool g_privateNetwork = false;

bool enterPrivateNetwork()
{
    if (unshare(CLONE_NEWNET) != 0)
        return false;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr {};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &ifr) == 0
        && (ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP),
            ioctl(fd, SIOCSIFFLAGS, &ifr) == 0);
    if (fd >= 0)
        close(fd);
    return up;
}

std::array<uint8_t, 512> benchFrame()
{
    std::array<uint8_t, 512> frame {};
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>(i * 13);
    return frame;
}

// Opens DASHARD_OUTPUT=`output`, then times command 4 alone. `listener` says who receives.
void sendThroughDasCall(benchmark::State &state, const std::string &output, const char *listener)
{
    setenv("DASHARD_OUTPUT", output.c_str(), 1);
    if (DasCall(DAS_CMD_OPEN, 0, nullptr) < 0 || DasCall(DAS_CMD_START, 0, nullptr) < 0) {
        state.SkipWithError("open failed");
        return;
    }
    auto frame = benchFrame();
    long failures = 0;
    const long before = g_allocations.load();
    for (auto _ : state) {
        if (DasCall(DAS_CMD_SEND, 512, frame.data()) < 0)
            ++failures;
        frame[0] = static_cast<uint8_t>(frame[0] + 1);
    }
    const long allocations = g_allocations.load() - before;
    DasCall(DAS_CMD_CLOSE, 0, nullptr);
    state.counters["allocs/frame"]
        = benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    state.counters["failed"] = static_cast<double>(failures);
    state.SetLabel(listener);
}

void BM_DasCallSendArtNet_Receiver(benchmark::State &state)
{
    Sink sink(0);
    sendThroughDasCall(state, "artnet:127.0.0.1:" + std::to_string(sink.port()), "receiver bound");
}

void BM_DasCallSendArtNet_Nobody(benchmark::State &state)
{
    const uint16_t port = Sink(0).port(); // bound, then released: nobody listens there
    sendThroughDasCall(state, "artnet:127.0.0.1:" + std::to_string(port), "nobody listening");
}

void BM_DasCallSendSacn_Receiver(benchmark::State &state)
{
    // sACN unicast always goes to 5568, which is ours to bind only inside the private namespace.
    if (!g_privateNetwork) {
        state.SkipWithError("needs a private network namespace for port 5568");
        return;
    }
    Sink sink(das::kSacnPort);
    sendThroughDasCall(state, "sacn:127.0.0.1@1", "receiver bound");
}

void BM_DasCallSendSacn_Nobody(benchmark::State &state)
{
    if (!g_privateNetwork) {
        state.SkipWithError("needs a private network namespace for port 5568");
        return;
    }
    sendThroughDasCall(state, "sacn:127.0.0.1@1", "nobody listening");
}

void BM_EncodeArtDmx(benchmark::State &state)
{
    std::array<uint8_t, das::kArtDmxSize> packet {};
    const auto frame = benchFrame();
    uint8_t sequence = 0;
    const long before = g_allocations.load();
    for (auto _ : state) {
        sequence = das::nextArtNetSequence(sequence);
        das::encodeArtDmx(packet, 0x1234, sequence, frame);
        benchmark::DoNotOptimize(packet.data());
        benchmark::ClobberMemory();
    }
    state.counters["allocs/frame"] = benchmark::Counter(
        static_cast<double>(g_allocations.load() - before), benchmark::Counter::kAvgIterations);
}

void BM_EncodeSacn(benchmark::State &state)
{
    std::array<uint8_t, das::kSacnPacketSize> packet {};
    const auto frame = benchFrame();
    das::SacnSource source;
    source.name = "Brivane";
    uint8_t sequence = 0;
    const long before = g_allocations.load();
    for (auto _ : state) {
        das::encodeSacnData(packet, source, sequence++, 0, frame);
        benchmark::DoNotOptimize(packet.data());
        benchmark::ClobberMemory();
    }
    state.counters["allocs/frame"] = benchmark::Counter(
        static_cast<double>(g_allocations.load() - before), benchmark::Counter::kAvgIterations);
}

// The link watch's two parts: the clock read every send makes, and the look at the interface's
// flags that at most one send a second makes (here at lo, by a UDP socket like the output's).
void BM_LinkWatchClockRead(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(std::chrono::steady_clock::now());
}

void BM_LinkWatchLook(benchmark::State &state)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request {};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    for (auto _ : state)
        if (ioctl(fd, SIOCGIFFLAGS, &request) != 0 || !(request.ifr_flags & IFF_RUNNING))
            state.SkipWithError("no flags for lo");
    close(fd);
}

// The route look an output chosen by the routing table makes once a second beside the link's:
// one netlink request and its answer (here for a node behind lo).
void BM_RouteLook(benchmark::State &state)
{
    das::RouteAsker routes;
    das::WayOut way;
    for (auto _ : state)
        if (routes.ask(0x7f000002, way) != 0)
            state.SkipWithError("no route to 127.0.0.2");
}

} // namespace

BENCHMARK(BM_DasCallSendArtNet_Receiver);
BENCHMARK(BM_DasCallSendArtNet_Nobody);
BENCHMARK(BM_DasCallSendSacn_Receiver);
BENCHMARK(BM_DasCallSendSacn_Nobody);
BENCHMARK(BM_EncodeArtDmx);
BENCHMARK(BM_EncodeSacn);
BENCHMARK(BM_LinkWatchClockRead);
BENCHMARK(BM_LinkWatchLook);
BENCHMARK(BM_RouteLook);

int main(int argc, char **argv)
{
    g_privateNetwork = enterPrivateNetwork();
    benchmark::AddCustomContext(
        "network", g_privateNetwork ? "private namespace (lo only)" : "shared loopback");
    // Shows that the counter sees allocations made inside libdashard: an open allocates.
    const long before = g_allocations.load();
    unsetenv("DASHARD_OUTPUT");
    DasCall(DAS_CMD_OPEN, 0, nullptr);
    DasCall(DAS_CMD_CLOSE, 0, nullptr);
    benchmark::AddCustomContext(
        "allocations in one open+close", std::to_string(g_allocations.load() - before));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
