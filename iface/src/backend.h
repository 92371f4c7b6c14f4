// The one interface every DMX output implements, and the factories that open each kind.
#pragma once

#include "output_config.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace das {

inline constexpr int kFrameSize = 512;
using Frame = std::span<const uint8_t, kFrameSize>;

// An open output. Created by a factory below on command 1, destroyed on command 2 or on the first
// failing send. No method may block its caller for more than 25 ms.
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

// Each factory opens its output or returns null and says why in `why` (one short phrase,
// no newline). They may take up to 1 s in all.
std::unique_ptr<Backend> openArtNet(const OutputConfig &config, std::string &why);
std::unique_ptr<Backend> openSacn(const OutputConfig &config, std::string &why);
// This machine's sACN source CID for user `uid`, derived from the machine ID in `machineIdPath`
// (the same at every open and start, and the ID itself never sent); nullopt, saying why, where
// that file holds none.
std::optional<std::array<uint8_t, 16>> machineSacnCid(
    const char *machineIdPath, unsigned uid, std::string &why);
// The CID our sACN source sends: machineSacnCid's, or else one random CID for the life of the
// process, said once on stderr.
std::array<uint8_t, 16> sacnCid(const char *machineIdPath, unsigned uid);
std::unique_ptr<Backend> openUsbPro(const OutputConfig &config, std::string &why);
std::unique_ptr<Backend> openOpenDmx(const OutputConfig &config, std::string &why);
std::unique_ptr<Backend> openOla(const OutputConfig &config, std::string &why);

} // namespace das
