// E1.31 (sACN) data packets and the universe-to-multicast mapping: pure builders over a caller's
// fixed buffer.
#pragma once

#include "backend.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace das {

inline constexpr std::size_t kSacnPacketSize = 638; // 126-byte header + 512 slots
inline constexpr uint16_t kSacnPort = 5568;
inline constexpr uint16_t kSacnMinUniverse = 1;
inline constexpr uint16_t kSacnMaxUniverse = 63999;
inline constexpr uint8_t kSacnDefaultPriority = 100;
inline constexpr int kSacnMaxPriority = 200;
inline constexpr std::size_t kSacnSourceNameSize = 64; // NUL-terminated, so 63 bytes of text
inline constexpr uint8_t kSacnOptionTerminated = 0x40;
inline constexpr uint8_t kSacnOptionPreview = 0x80; // for visualisers, not for the lights
inline constexpr std::size_t kSacnDiscoverySize = 122; // one page listing one universe
inline constexpr uint32_t kSacnDiscoveryGroup = 0xeffffad6; // 239.255.250.214

using Cid = std::array<uint8_t, 16>;

// What stays the same in every packet of one stream.
struct SacnSource
{
    Cid cid {}; // the sender's UUID, raw bytes in network order
    std::string_view name; // UTF-8; cut to 63 bytes, never inside a character
    uint8_t priority = kSacnDefaultPriority; // 0-200
    uint16_t universe = kSacnMinUniverse; // 1-63999
};

// Writes a complete data packet for all 512 channels (START code 0) into `out`. `options` is
// the Options byte: 0 for live data, kSacnOptionTerminated for the goodbye packets.
void encodeSacnData(std::span<uint8_t, kSacnPacketSize> out, const SacnSource &source,
    uint8_t sequence, uint8_t options, Frame levels);

// Writes a Universe Discovery packet saying that `source` sends its one universe.
void encodeSacnDiscovery(std::span<uint8_t, kSacnDiscoverySize> out, const SacnSource &source);

// What a data packet heard on the network says of its source.
struct SacnHeard
{
    Cid cid {};
    std::string name; // as sent, up to 63 bytes, no NUL
    uint8_t priority = 0; // 0-200
    uint16_t universe = 0;
    uint8_t options = 0;
};

// Reads an E1.31 data packet (its root and framing layers); nullopt for any other packet.
std::optional<SacnHeard> parseSacnData(std::span<const uint8_t> packet);

// The IPv4 multicast group of a universe, 239.255.hi.lo, as a host-order address.
constexpr uint32_t sacnMulticastGroup(uint16_t universe) { return 0xefff0000u | universe; }

// Turns 16 random bytes into a version 4 (random) UUID by setting its version and variant bits.
constexpr Cid makeUuidV4(Cid random)
{
    random[6] = static_cast<uint8_t>((random[6] & 0x0f) | 0x40);
    random[8] = static_cast<uint8_t>((random[8] & 0x3f) | 0x80);
    return random;
}

// The name-based (version 5) UUID of `name` in the namespace `space`: the same name always gives
// the same UUID, and the UUID does not give the name away.
Cid makeUuidV5(const Cid &space, std::string_view name);

// This source's CID on a machine whose /etc/machine-id says `machineId`, for user `uid`: one for
// the life of the installation, and another for each user of it.
Cid sacnSourceCid(std::string_view machineId, unsigned uid);

} // namespace das
