// The record of the way a running console's network output opened by, kept in the user's
// runtime folder for brivane-check run beside the console to compare with.
#pragma once

#include "net/routing_table.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace das {

// The way this process's network output opened by, to `destination`:`port`, for brivane-check
// run beside the console: written at its first frame, removed at each close (kept when the
// output stops by itself, so that a check made then still sees it).
void recordWayOut(uint32_t destination, uint16_t port, const WayOut &way, const std::string &name);
void forgetWayOut();

// The way a running console's output to `destination`:`port` opened by, when there is one.
struct RecordedWay
{
    WayOut way;
    std::string name; // the device's name at the open
    pid_t pid = 0;
};
// Of the console user `uid` runs.
bool recordedWayOut(uint32_t destination, uint16_t port, unsigned uid, RecordedWay &recorded);

} // namespace das
