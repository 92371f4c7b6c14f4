// The port holder: the socket's inode from the kernel's UDP tables, then the process that has it
// open, from each process's file descriptors.
#include "net/udp_port_holder.h"

#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <unistd.h>

namespace das {

std::string udpPortHolder(uint16_t port)
{
    // The socket's inode from the kernel's tables (an IPv6 socket on [::] holds the IPv4 port
    // too), then the process with that socket open.
    std::string line, inode;
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    for (const char *name : { "/proc/net/udp", "/proc/net/udp6" }) {
        std::ifstream table(name);
        std::getline(table, line);
        while (inode.empty() && std::getline(table, line)) {
            char local[64] = {}, remote[64] = {};
            unsigned long node = 0;
            if (std::sscanf(line.c_str(), "%*d: %63s %63s %*x %*x:%*x %*x:%*x %*x %*u %*d %lu",
                    local, remote, &node)
                    == 3
                && std::string(local).ends_with(wanted))
                inode = "socket:[" + std::to_string(node) + "]";
        }
    }
    if (inode.empty())
        return {};
    DIR *processes = ::opendir("/proc");
    std::string holder;
    for (dirent *each; processes && holder.empty() && (each = ::readdir(processes));) {
        const std::string pid = each->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string fds = "/proc/" + pid + "/fd";
        DIR *open = ::opendir(fds.c_str());
        for (dirent *fd; open && holder.empty() && (fd = ::readdir(open));) {
            char target[64] = {};
            const std::string link = fds + "/" + fd->d_name;
            if (::readlink(link.c_str(), target, sizeof target - 1) > 0 && inode == target) {
                std::string name;
                std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
                holder = name + " (pid " + pid + ")";
            }
        }
        if (open)
            ::closedir(open);
    }
    if (processes)
        ::closedir(processes);
    return holder.empty() ? "another program" : holder;
}

} // namespace das
