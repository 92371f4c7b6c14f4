// What each DasCall command does: validation, the one open output, and the library's
// process-wide entry with its lock and trace.
#pragma once

#include "backend.h"
#include "output_config.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace das {

// Opens the output `config` names through its kind's factory; null with a reason when it cannot.
// On success `why` is empty, or says what the output decided by itself that the operator should
// know (the interface it found).
std::unique_ptr<Backend> openOutput(const OutputConfig &config, std::string &why);

// Checks a call's arguments against its command. DAS_OK, DAS_E_COMMAND or DAS_E_ARGUMENT.
int validateCall(int32_t command, int32_t length, const uint8_t *buffer);

// Runs the commands against at most one open output. Not locked: the caller serialises.
class Dispatcher
{
public:
    // One call, arguments as DasCall received them. 0 or more on success, else a DAS_E_* code.
    // A call with bad arguments changes nothing.
    int call(int32_t command, int32_t length, const uint8_t *buffer);

    // What the last successful open decided by itself, once, for the trace; then empty.
    std::string takeNote() { return std::exchange(m_note, {}); }

private:
    int open();
    void close();

    std::unique_ptr<Backend> m_output;
    std::string m_note;
};

// The library's entry: serialises callers, reads DASHARD_TRACE on the first call, runs the
// call and traces it. Never throws.
int32_t libraryCall(int32_t command, int32_t length, const uint8_t *buffer) noexcept;

} // namespace das
