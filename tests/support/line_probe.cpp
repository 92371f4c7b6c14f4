// The peer's termios2 readback, apart from pty_peer.cpp: <asm/termbits.h> clashes with <termios.h>.
#include "pty_peer.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

std::pair<unsigned, unsigned> PtyPeer::line() const
{
    termios2 settings {};
    if (::ioctl(m_slave, TCGETS2, &settings) != 0)
        return { 0, 0 };
    return { settings.c_ospeed, settings.c_cflag };
}
