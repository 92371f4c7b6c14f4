// The DMX512 line setting for adapters the host drives bit by bit: 250 000 baud, 8N2.
#pragma once

#include <string>

namespace das {

inline constexpr unsigned kDmxBaud = 250000;

// Sets 250 000 baud, 8 data bits, no parity, 2 stop bits, no flow control on an open tty,
// reads the setting back and checks it. On failure returns false and a short phrase in `why`.
bool setDmxLine(int fd, std::string &why);

} // namespace das
