// Byte-by-byte checks of received ArtDmx and E1.31 data packets against golden headers.
#pragma once

#include "net_support.h"

#include <array>
#include <cstdint>

namespace nettest {

using Cid = std::array<uint8_t, 16>;

// A 530-byte ArtDmx for all 512 channels with the given SubUni and Net bytes, sequence and data.
::testing::AssertionResult isArtDmx(
    const Packet &packet, std::array<uint8_t, 2> subUniNet, uint8_t sequence, const Levels &levels);

struct SacnExpect
{
    uint8_t sequence = 0;
    uint8_t options = 0;
    std::array<uint8_t, 2> universe {}; // as on the wire, high byte first
    const Levels *levels = nullptr; // null: the slots are not compared
};

// A 638-byte E1.31 data packet from source "Brivane" at priority 100 with START code 0.
::testing::AssertionResult isSacnData(const Packet &packet, const SacnExpect &expect);

// The CID of an E1.31 packet, and whether it is a random (version 4, RFC 4122 variant) UUID.
Cid sacnCid(const Packet &packet);
bool isRandomUuid(const Cid &cid);

} // namespace nettest
