// How often the Open DMX writer puts a packet on the line. The output runs on a pseudo-terminal
// through its real line code (250 kbaud 8N2 set, BREAK ioctls, writes, the drain), behind a line
// that stamps each BREAK with the steady clock and the writer thread's CPU clock; the pty's other
// end is read all along and its bytes counted. Not a test: it prints figures for BENCHMARKS.md.
//
// Usage: opendmx_period [SECONDS]   (default 30)
#include "serial/opendmx_output.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Forwards every step to the real line, stamping each BREAK.
struct Stamping final : das::DmxLine
{
    explicit Stamping(std::unique_ptr<das::DmxLine> line)
        : real(std::move(line))
    {
    }
    int setBreak(bool on) override
    {
        if (on) {
            std::lock_guard lock(mutex);
            breaks.push_back(Clock::now());
            cpuMs.push_back(threadCpuMs());
        }
        return real->setBreak(on);
    }
    void pause(std::chrono::nanoseconds d) override { real->pause(d); }
    int write(std::span<const uint8_t> b) override { return real->write(b); }
    int waitWritable(std::chrono::milliseconds t) override { return real->waitWritable(t); }
    int drain(std::chrono::milliseconds t) override { return real->drain(t); }

    std::unique_ptr<das::DmxLine> real;
    std::mutex mutex;
    std::vector<Clock::time_point> breaks;
    std::vector<double> cpuMs;
};

double at(std::vector<double> sorted, double fraction)
{
    return sorted[std::min(sorted.size() - 1, size_t(fraction * double(sorted.size())))];
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) || unlockpt(master))
        return std::perror("pty"), 1;
    std::atomic<bool> done = false;
    std::atomic<long> bytes = 0;
    std::thread reader([&] {
        for (char chunk[4096]; !done;) {
            pollfd entry { master, POLLIN, 0 };
            if (poll(&entry, 1, 50) > 0)
                if (const ssize_t n = read(master, chunk, sizeof chunk); n > 0)
                    bytes += n;
        }
    });
    std::string why;
    auto line = das::openDmxLine(ptsname(master), why);
    if (!line)
        return std::fprintf(stderr, "cannot open the pty: %s\n", why.c_str()), 1;
    auto *stamps = new Stamping(std::move(line));
    auto output = das::makeOpenDmxOutput(std::unique_ptr<das::DmxLine>(stamps));
    uint8_t levels[das::kFrameSize];
    for (int i = 0; i < das::kFrameSize; ++i)
        levels[i] = uint8_t(i + 1);
    output->send(das::Frame(levels, das::kFrameSize));
    // A plain sleeper beside it, to tell the machine's stalls from the writer's: how late each of
    // its 23 ms steps wakes.
    std::vector<double> late;
    for (auto next = Clock::now(), end = next + std::chrono::seconds(seconds); next < end;) {
        std::this_thread::sleep_until(next += std::chrono::microseconds(23000));
        late.push_back(std::chrono::duration<double, std::milli>(Clock::now() - next).count());
    }
    output.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    done = true;
    reader.join();

    std::vector<double> gaps;
    for (size_t i = 3; i < stamps->breaks.size(); ++i) // the first two after the open left out
        gaps.push_back(
            std::chrono::duration<double, std::milli>(stamps->breaks[i] - stamps->breaks[i - 1])
                .count());
    if (gaps.empty())
        return std::fprintf(stderr, "no packets\n"), 1;
    std::sort(gaps.begin(), gaps.end());
    double sum = 0;
    for (double g : gaps)
        sum += g;
    const double cpu = stamps->cpuMs.back() - stamps->cpuMs[2];
    const double span
        = std::chrono::duration<double>(stamps->breaks.back() - stamps->breaks[2]).count();
    std::printf("packets %zu in %d s, bytes read %ld (%.2f packets of 513)\n",
        stamps->breaks.size(), seconds, bytes.load(), bytes.load() / 513.0);
    std::printf("BREAK to BREAK over %zu intervals: p50 %.3f ms, p99 %.3f ms, min %.3f ms, max "
                "%.3f ms, mean %.3f ms (%.1f packets/s)\n",
        gaps.size(), at(gaps, 0.5), at(gaps, 0.99), gaps.front(), gaps.back(), sum / gaps.size(),
        1000.0 * gaps.size() / sum);
    std::sort(late.begin(), late.end());
    std::printf("reference sleeper, 23 ms steps, lateness: p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
        at(late, 0.5), at(late, 0.99), late.back());
    std::printf("writer thread CPU: %.1f ms in %.1f s (%.3f %%)\n", cpu, span, cpu / span / 10);
    close(master);
}
