// The opendmx output: a plain USB-serial adapter whose every BREAK, mark and slot the host
// makes itself. The line operations sit behind DmxLine so the order of steps can be watched.
#pragma once

#include "backend.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>

namespace das {

// The few things the writer does to the wire. Results are 0 or more on success and DAS_E_IO
// once the line is gone. Calls may come from two threads at once.
class DmxLine
{
public:
    virtual ~DmxLine() = default;
    // Holds the line in BREAK (true) or releases it to MARK (false).
    virtual int setBreak(bool on) = 0;
    // Sleeps at least `duration`.
    virtual void pause(std::chrono::nanoseconds duration) = 0;
    // Queues what the driver will take now; returns the count (0 when it is full).
    virtual int write(std::span<const uint8_t> bytes) = 0;
    // Waits up to `timeout` for room to write: 1 when there is room, 0 on timeout.
    virtual int waitWritable(std::chrono::milliseconds timeout) = 0;
    // Waits until every byte written has left the line, for about `timeout`: 1 when it has,
    // 0 when it has not yet.
    virtual int drain(std::chrono::milliseconds timeout) = 0;
};

// Opens `path` at 250 000 baud 8N2. On failure returns null and a short phrase in `why`.
std::unique_ptr<DmxLine> openDmxLine(const std::string &path, std::string &why);

// The output proper, over a line it owns. A writer thread puts the latest frame on the wire
// again and again, each BREAK once the packet before has left the line, and no sooner than the
// wire could carry it (the adapter repeats nothing); send only hands it a copy. Closing lets
// the packet on its way finish.
std::unique_ptr<Backend> makeOpenDmxOutput(std::unique_ptr<DmxLine> line);

} // namespace das
