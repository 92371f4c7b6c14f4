// The one interface every DMX output implements; each kind's unit names the factory that opens it.
#pragma once

#include "dashard.h"

#include <cstdint>
#include <span>

namespace das {

inline constexpr int kFrameSize = DAS_FRAME_SIZE;
using Frame = std::span<const uint8_t, kFrameSize>;

// An open output. Created by its kind's factory on command 1, destroyed on command 2 or on the
// first failing send. No method may block its caller for more than 25 ms.
class Backend
{
public:
    virtual ~Backend() = default;
    // Command 3, right after a successful open. 0 or more on success, a DAS_E_* code otherwise.
    virtual int start() { return 0; }
    // Command 4: puts the 512 levels (channel 1 first) on the wire. A negative DAS_E_* code
    // means the output is gone; the caller then destroys it.
    virtual int send(Frame frame) = 0;
    // Command 2, before destruction: say goodbye to receivers where the protocol has a way.
    virtual void stop() { }
};

} // namespace das
