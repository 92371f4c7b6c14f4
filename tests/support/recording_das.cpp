// The recording DasCall.
#include "recording_das.h"

#include <algorithm>

DasRecorder recorder;

extern "C" int32_t DasCall(int32_t command, int32_t length, uint8_t *buffer)
{
    DasRecord &record = recorder.calls.emplace_back();
    record.command = command;
    record.length = length;
    record.hadBuffer = buffer != nullptr;
    if (buffer && length > 0)
        std::copy_n(buffer, std::min(length, 512), record.frame.begin());
    if (recorder.caption)
        record.caption = recorder.caption();
    return recorder.results[command];
}
