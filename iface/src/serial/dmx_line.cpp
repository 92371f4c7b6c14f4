// The DMX512 line setting. 250 000 is no standard rate, so it goes to the kernel as an explicit
// speed (BOTHER); the kernel's termios header cannot share a file with <termios.h>.
#include "serial/dmx_line.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>

#ifndef BOTHER
#error "the kernel's termios has no explicit speed (BOTHER)"
#endif

namespace das {

namespace {

// Most architectures take the speeds through termios2; on those without it (powerpc) the
// kernel's own termios carries them.
#ifdef TCGETS2
using KernelTermios = struct termios2;
constexpr unsigned long kGetLine = TCGETS2;
constexpr unsigned long kSetLine = TCSETS2;
#else
using KernelTermios = struct termios;
constexpr unsigned long kGetLine = TCGETS;
constexpr unsigned long kSetLine = TCSETS;
#endif

} // namespace

bool setDmxLine(int fd, std::string &why)
{
    KernelTermios line {};
    if (::ioctl(fd, kGetLine, &line) != 0) {
        why = std::string("cannot read line settings: ") + std::strerror(errno);
        return false;
    }
    line.c_cflag &= ~(CBAUD | CIBAUD | CSIZE | PARENB | CRTSCTS);
    line.c_cflag |= BOTHER | CS8 | CSTOPB | CLOCAL | CREAD;
    line.c_ispeed = kDmxBaud;
    line.c_ospeed = kDmxBaud;
    KernelTermios check {};
    // A driver may round an odd rate to what its clock can make, or refuse it outright.
    if (::ioctl(fd, kSetLine, &line) != 0 || ::ioctl(fd, kGetLine, &check) != 0
        || check.c_ospeed != kDmxBaud || (check.c_cflag & CSIZE) != CS8 || !(check.c_cflag & CSTOPB)
        || (check.c_cflag & PARENB)) {
        why = "cannot set 250000 baud";
        return false;
    }
    return true;
}

} // namespace das
