// Who our sACN source is to receivers: its CID, derived from the machine ID so that it stays the
// same from one start to the next, and its source name.
#pragma once

#include "encode/sacn.h"

#include <array>
#include <optional>
#include <span>
#include <string>

namespace das {

// Where the machine ID our sACN CID is derived from is read, in this order: systemd's file, then
// D-Bus's, which a root without systemd (a minimal install, a build chroot) may hold alone.
inline constexpr std::array<const char *, 2> kMachineIdFiles { "/etc/machine-id",
    "/var/lib/dbus/machine-id" };
// This machine's sACN source CID for user `uid`, derived from the machine ID in the first of
// `files` that holds one (the same at every open and start, and the ID itself never sent);
// nullopt, saying why of each, where none does.
std::optional<Cid> machineSacnCid(
    std::span<const char *const> files, unsigned uid, std::string &why);
// The CID our sACN source sends: machineSacnCid's, or else one random CID for the life of the
// process, said once on stderr.
Cid sacnCid(std::span<const char *const> files, unsigned uid);
// "Brivane on HOSTNAME", the name our sACN source sends, as receivers see it (cut to its field).
std::string sacnSourceName();

} // namespace das
