// The output library as a program that links it calls it.
#pragma once

#include "dashard.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace testsupport {

// Levels with no 0 and many bytes a tty or framing would alter (LF, CR, 0xFF, USB Pro delimiters).
inline std::vector<uint8_t> kLevels = [] {
    const uint8_t some[] = { '\n', '\r', 0x7E, 0xE7, 0xFF, 1, 2, 3 };
    std::vector<uint8_t> levels;
    while (levels.size() < DAS_FRAME_SIZE)
        levels.insert(levels.end(), some, some + 8), levels.push_back(uint8_t(levels.size() - 8));
    return std::vector<uint8_t>(levels.begin(), levels.begin() + DAS_FRAME_SIZE);
}();

// Opens the output `output` names, as DASHARD_OUTPUT would.
inline int dasOpen(const std::string &output)
{
    setenv("DASHARD_OUTPUT", output.c_str(), 1);
    return DasCall(DAS_CMD_OPEN, 0, nullptr);
}
inline int dasSend() { return DasCall(DAS_CMD_SEND, DAS_FRAME_SIZE, kLevels.data()); }

} // namespace testsupport
