// The Art-Net and sACN outputs' factories: what the kinds' table opens, and brivane-check's check
// opens with the target it has resolved already.
#pragma once

#include "backend.h"
#include "output_config.h"

#include <memory>
#include <string>

namespace das {

struct NetTarget;

// Command 1 for an Art-Net or sACN setting: finds where its frames go and by which way, then opens
// the socket, which sends nothing yet. Null with why not in one short phrase; on success `why` is
// empty or says how frames leave when no route chose the way.
std::unique_ptr<Backend> openArtNet(const OutputConfig &config, std::string &why);
std::unique_ptr<Backend> openSacn(const OutputConfig &config, std::string &why);

// The same, to `to` as resolveNetTarget found it for `config`.
std::unique_ptr<Backend> openArtNet(
    const OutputConfig &config, const NetTarget &to, std::string &why);
std::unique_ptr<Backend> openSacn(
    const OutputConfig &config, const NetTarget &to, std::string &why);

} // namespace das
