// Art-Net 4 ArtDmx packets: a pure builder over a caller's fixed buffer.
#pragma once

#include "backend.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace das {

inline constexpr std::size_t kArtDmxSize = 530; // 18-byte header + 512 slots
inline constexpr uint16_t kArtNetPort = 6454;
inline constexpr uint16_t kArtNetMaxPortAddress = 32767;

// Writes a complete ArtDmx packet for all 512 channels into `out`. `portAddress` is the 15-bit
// Net/SubNet/Universe address (0-32767); `sequence` 1-255 (0 switches receivers' reordering off).
void encodeArtDmx(
    std::span<uint8_t, kArtDmxSize> out, uint16_t portAddress, uint8_t sequence, Frame levels);

// The sequence number after `sequence`: 1, 2, ... 255, then 1 again. 0 is never produced.
constexpr uint8_t nextArtNetSequence(uint8_t sequence)
{
    return sequence >= 255 ? 1 : static_cast<uint8_t>(sequence + 1);
}

} // namespace das
