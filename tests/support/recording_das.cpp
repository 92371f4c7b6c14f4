// The recording DasCall.
#include "recording_das.h"

#include <algorithm>

DasRecorder recorder;

extern "C" int32_t DasCall(int32_t command, int32_t length, uint8_t *buffer)
{
    recorder.calls.push_back(
        { command, length, buffer != nullptr, {}, recorder.caption ? recorder.caption() : "" });
    std::copy_n(
        buffer, buffer ? std::clamp(length, 0, 512) : 0, recorder.calls.back().frame.begin());
    return recorder.results[command];
}
