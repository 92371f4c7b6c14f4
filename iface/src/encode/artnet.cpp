// The ArtDmx builder: fixed header, 15-bit port-address split into SubUni/Net, 512 data slots.
#include "encode/artnet.h"

#include <algorithm>
#include <array>

namespace das {

namespace {

constexpr std::array<uint8_t, 8> kArtNetId = { 'A', 'r', 't', '-', 'N', 'e', 't', 0 };
constexpr uint16_t kOpDmx = 0x5000;
constexpr uint16_t kProtocolVersion = 14;

} // namespace

void encodeArtDmx(
    std::span<uint8_t, kArtDmxSize> out, uint16_t portAddress, uint8_t sequence, Frame levels)
{
    std::copy(kArtNetId.begin(), kArtNetId.end(), out.begin());
    // The OpCode is the one little-endian field of the header; everything else is big-endian.
    out[8] = kOpDmx & 0xff;
    out[9] = kOpDmx >> 8;
    out[10] = kProtocolVersion >> 8;
    out[11] = kProtocolVersion & 0xff;
    out[12] = sequence;
    out[13] = 0; // physical input port: we have only one
    out[14] = portAddress & 0xff; // SubNet << 4 | Universe
    out[15] = (portAddress >> 8) & 0x7f; // Net, bit 7 always clear
    out[16] = kFrameSize >> 8;
    out[17] = kFrameSize & 0xff;
    std::copy(levels.begin(), levels.end(), out.begin() + 18);
}

} // namespace das
