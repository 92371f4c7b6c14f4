// Who holds a local UDP port, found in /proc, for the scan's message when a port it needs is held.
#pragma once

#include <cstdint>
#include <string>

namespace das {

// The program that holds local UDP `port` ("olad (pid 812)"), "another program" when it cannot
// be told, or empty when the port is free.
std::string udpPortHolder(uint16_t port);

} // namespace das
