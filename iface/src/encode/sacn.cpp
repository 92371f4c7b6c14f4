// The E1.31 data packet builder: three nested layers (root, framing, DMP), each opening with a
// flags-and-length word that counts from itself to the end of the packet.
#include "encode/sacn.h"

#include <algorithm>

namespace das {

namespace {

constexpr std::array<uint8_t, 12> kAcnPacketId
    = { 'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0 };
constexpr uint32_t kVectorRootData = 0x00000004;
constexpr uint32_t kVectorFramingData = 0x00000002;
constexpr uint8_t kVectorDmpSetProperty = 0x02;
constexpr uint8_t kDmpAddressAndDataType = 0xa1;

constexpr std::size_t kRootLayerAt = 16;
constexpr std::size_t kFramingLayerAt = 38;
constexpr std::size_t kDmpLayerAt = 115;
constexpr std::size_t kSourceNameAt = 44;

void put16(std::span<uint8_t, kSacnPacketSize> out, std::size_t at, uint16_t value)
{
    out[at] = static_cast<uint8_t>(value >> 8);
    out[at + 1] = static_cast<uint8_t>(value);
}

void put32(std::span<uint8_t, kSacnPacketSize> out, std::size_t at, uint32_t value)
{
    put16(out, at, static_cast<uint16_t>(value >> 16));
    put16(out, at + 2, static_cast<uint16_t>(value));
}

// Top nibble 0x7 (vector, header and data all present), then the 12-bit length.
void putFlagsAndLength(std::span<uint8_t, kSacnPacketSize> out, std::size_t at)
{
    put16(out, at, static_cast<uint16_t>(0x7000 | (kSacnPacketSize - at)));
}

} // namespace

void encodeSacnData(std::span<uint8_t, kSacnPacketSize> out, const SacnSource &source,
    uint8_t sequence, uint8_t options, Frame levels)
{
    // Root layer.
    put16(out, 0, 0x0010); // preamble size
    put16(out, 2, 0x0000); // post-amble size
    std::copy(kAcnPacketId.begin(), kAcnPacketId.end(), out.begin() + 4);
    putFlagsAndLength(out, kRootLayerAt);
    put32(out, 18, kVectorRootData);
    std::copy(source.cid.begin(), source.cid.end(), out.begin() + 22);

    // Framing layer.
    putFlagsAndLength(out, kFramingLayerAt);
    put32(out, 40, kVectorFramingData);
    const auto name = source.name.substr(0, kSacnSourceNameSize - 1);
    auto nameEnd = std::copy(name.begin(), name.end(), out.begin() + kSourceNameAt);
    std::fill(nameEnd, out.begin() + kSourceNameAt + kSacnSourceNameSize, 0);
    out[108] = source.priority;
    put16(out, 109, 0); // synchronization address: not synchronized
    out[111] = sequence;
    out[112] = options;
    put16(out, 113, source.universe);

    // DMP layer: one SET PROPERTY carrying the START code and the 512 slots.
    putFlagsAndLength(out, kDmpLayerAt);
    out[117] = kVectorDmpSetProperty;
    out[118] = kDmpAddressAndDataType;
    put16(out, 119, 0x0000); // first property address
    put16(out, 121, 0x0001); // address increment
    put16(out, 123, kFrameSize + 1); // property value count: START code + slots
    out[125] = 0x00; // START code: dimmer levels
    std::copy(levels.begin(), levels.end(), out.begin() + 126);
}

std::optional<SacnHeard> parseSacnData(std::span<const uint8_t> packet)
{
    const auto get16 = [&](std::size_t at) { return uint16_t(packet[at] << 8 | packet[at + 1]); };
    const auto get32 = [&](std::size_t at) { return uint32_t(get16(at)) << 16 | get16(at + 2); };
    if (packet.size() < 126 || get16(0) != 0x0010 || get16(2) != 0
        || !std::equal(kAcnPacketId.begin(), kAcnPacketId.end(), packet.begin() + 4)
        || get32(18) != kVectorRootData || get32(40) != kVectorFramingData
        || packet[108] > kSacnMaxPriority)
        return std::nullopt;
    SacnHeard heard;
    std::copy_n(packet.begin() + 22, heard.cid.size(), heard.cid.begin());
    const auto name = packet.subspan(kSourceNameAt, kSacnSourceNameSize - 1);
    heard.name.assign(name.begin(), std::find(name.begin(), name.end(), 0));
    heard.priority = packet[108];
    heard.options = packet[112];
    heard.universe = get16(113);
    return heard;
}

} // namespace das
