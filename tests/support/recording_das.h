// A DasCall that records every call, for tests of the console without the output library.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct DasRecord
{
    int32_t command = 0, length = 0;
    bool hadBuffer = false;
    std::array<uint8_t, 512> frame {}; // the buffer at the moment of the call
    std::string caption;               // what `caption` said during the call
};

// What the calls were, what each command returns (0 unless set), and what a test saw meanwhile.
struct DasRecorder
{
    std::vector<DasRecord> calls;
    std::map<int32_t, int32_t> results;
    std::function<std::string()> caption;
};
extern DasRecorder recorder;

extern "C" int32_t DasCall(int32_t command, int32_t length, uint8_t *buffer);
