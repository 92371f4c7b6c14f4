// The way-out record: $XDG_RUNTIME_DIR/brivane/way-out, one line written whole and renamed into
// place, read by a check of the same user's console.
#include "net/way_out_record.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace das {

namespace {

// The record's folder: the session's runtime folder (a tmpfs of the user's own, gone at logout).
std::string recordFolder(unsigned uid)
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (uid == ::getuid() && runtime && *runtime)
        return std::string(runtime) + "/brivane";
    return "/run/user/" + std::to_string(uid) + "/brivane";
}

std::string recordFile(unsigned uid) { return recordFolder(uid) + "/way-out"; }

} // namespace

void recordWayOut(uint32_t destination, uint16_t port, const WayOut &way, const std::string &name)
{
    const std::string folder = recordFolder(::getuid());
    ::mkdir(folder.c_str(), 0700);
    // Written whole to a file of its own and renamed, so that a check never reads half of it.
    const std::string file = recordFile(::getuid()), fresh = file + ".new";
    const int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    char line[128];
    const int size = std::snprintf(line, sizeof line, "%u %u %u %u %ld %.32s\n", destination, port,
        way.index, way.source, static_cast<long>(::getpid()), name.c_str());
    const bool written = size > 0 && ::write(fd, line, static_cast<size_t>(size)) == size;
    ::close(fd);
    if (!written || ::rename(fresh.c_str(), file.c_str()) != 0)
        ::unlink(fresh.c_str());
}

void forgetWayOut()
{
    // Only this process's own record: another console's stays.
    const std::string file = recordFile(::getuid());
    if (FILE *in = std::fopen(file.c_str(), "re")) {
        long pid = 0;
        const bool read = std::fscanf(in, "%*u %*u %*u %*u %ld", &pid) == 1;
        std::fclose(in);
        if (read && pid == ::getpid())
            ::unlink(file.c_str());
    }
}

bool recordedWayOut(uint32_t destination, uint16_t port, unsigned uid, RecordedWay &recorded)
{
    FILE *in = std::fopen(recordFile(uid).c_str(), "re");
    if (!in)
        return false;
    unsigned to = 0, toPort = 0;
    long pid = 0;
    char name[33] = {};
    const bool read = std::fscanf(in, "%u %u %u %u %ld %32s", &to, &toPort, &recorded.way.index,
                          &recorded.way.source, &pid, name)
        == 6;
    std::fclose(in);
    recorded.name = name;
    recorded.pid = static_cast<pid_t>(pid);
    // A console that has ended left its record behind; a pid taken since by another program is
    // too unlikely to guard against.
    return read && to == destination && toPort == port && pid > 0
        && (::kill(recorded.pid, 0) == 0 || errno == EPERM);
}

} // namespace das
