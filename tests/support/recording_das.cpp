// The recording DasCall.
#include "recording_das.h"

#include <algorithm>

DasRecorder recorder;

std::vector<int32_t> DasRecorder::commands() const
{
    std::vector<int32_t> out;
    for (const auto &call : calls)
        out.push_back(call.command);
    return out;
}

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
