// The DMX512 line setting. 250 000 is no standard rate, so it goes through termios2 with an
// explicit speed; the kernel's termios2 header cannot share a file with <termios.h>.
#include "termios2.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>

namespace das {

bool setDmxLine(int fd, std::string &why)
{
    termios2 line {};
    if (::ioctl(fd, TCGETS2, &line) != 0) {
        why = std::string("cannot read line settings: ") + std::strerror(errno);
        return false;
    }
    line.c_cflag &= ~(CBAUD | CIBAUD | CSIZE | PARENB | CRTSCTS);
    line.c_cflag |= BOTHER | CS8 | CSTOPB | CLOCAL | CREAD;
    line.c_ispeed = kDmxBaud;
    line.c_ospeed = kDmxBaud;
    termios2 check {};
    // A driver may round an odd rate to what its clock can make, or refuse it outright.
    if (::ioctl(fd, TCSETS2, &line) != 0 || ::ioctl(fd, TCGETS2, &check) != 0
        || check.c_ospeed != kDmxBaud || (check.c_cflag & CSIZE) != CS8 || !(check.c_cflag & CSTOPB)
        || (check.c_cflag & PARENB)) {
        why = "cannot set 250000 baud";
        return false;
    }
    return true;
}

} // namespace das
