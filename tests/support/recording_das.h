// A DasCall that records every call, for tests of the console without the output library.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct DasRecord
{
    int32_t command = 0;
    int32_t length = 0;
    bool hadBuffer = false;
    std::array<uint8_t, 512> frame {}; // a copy of the buffer at the moment of the call
    std::string caption;               // what the caption source said during the call
    int32_t result = 0;
};

namespace recorder {

// Forgets every call and every arranged result.
void reset();
const std::vector<DasRecord> &calls();
// Commands of the calls so far, in order.
std::vector<int32_t> commands();
// What calls with this command return from now on (0 unless arranged).
void setResult(int32_t command, int32_t result);
// Read during each call, so a test can see what the operator saw while the call ran.
void setCaptionSource(std::function<std::string()> source);

} // namespace recorder

extern "C" int32_t DasCall(int32_t command, int32_t length, uint8_t *buffer);
