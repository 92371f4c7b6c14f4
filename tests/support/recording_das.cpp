// The recording DasCall.
#include "recording_das.h"

#include <algorithm>
#include <map>

namespace {

std::vector<DasRecord> g_calls;
std::map<int32_t, int32_t> g_results;
std::function<std::string()> g_captionSource;

} // namespace

namespace recorder {

void reset()
{
    g_calls.clear();
    g_results.clear();
    g_captionSource = nullptr;
}

const std::vector<DasRecord> &calls() { return g_calls; }

std::vector<int32_t> commands()
{
    std::vector<int32_t> out;
    for (const auto &call : g_calls)
        out.push_back(call.command);
    return out;
}

void setResult(int32_t command, int32_t result) { g_results[command] = result; }

void setCaptionSource(std::function<std::string()> source) { g_captionSource = std::move(source); }

} // namespace recorder

extern "C" int32_t DasCall(int32_t command, int32_t length, uint8_t *buffer)
{
    DasRecord record;
    record.command = command;
    record.length = length;
    record.hadBuffer = buffer != nullptr;
    if (buffer && length > 0)
        std::copy_n(buffer, std::min<int32_t>(length, 512), record.frame.begin());
    if (g_captionSource)
        record.caption = g_captionSource();
    const auto it = g_results.find(command);
    record.result = it == g_results.end() ? 0 : it->second;
    g_calls.push_back(record);
    return record.result;
}
