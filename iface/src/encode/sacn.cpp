// The E1.31 data packet builder: three nested layers (root, framing, DMP), each opening with a
// flags-and-length word that counts from itself to the end of the packet.
#include "encode/sacn.h"

#include "encode/wire_text.h"

#include <algorithm>
#include <bit>
#include <vector>

namespace das {

namespace {

constexpr std::array<uint8_t, 12> kAcnPacketId
    = { 'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0 };
constexpr uint32_t kVectorRootData = 0x00000004;
constexpr uint32_t kVectorRootExtended = 0x00000008;
constexpr uint32_t kVectorFramingData = 0x00000002;
constexpr uint32_t kVectorFramingDiscovery = 0x00000002;
constexpr uint32_t kVectorDiscoveryList = 0x00000001;
constexpr uint8_t kVectorDmpSetProperty = 0x02;
constexpr uint8_t kDmpAddressAndDataType = 0xa1;

constexpr std::size_t kRootLayerAt = 16;
constexpr std::size_t kFramingLayerAt = 38;
constexpr std::size_t kDmpLayerAt = 115;
constexpr std::size_t kSourceNameAt = 44;
constexpr std::size_t kDiscoveryLayerAt = 112;

// Our own namespace for name-based CIDs, so that no other program's UUIDs can equal ours.
constexpr Cid kCidNamespace = { 0x57, 0x68, 0x37, 0x81, 0x77, 0xc7, 0x43, 0xd6, 0x81, 0x9a, 0xa0,
    0xf3, 0x95, 0xd8, 0xb7, 0x1e };

void put16(std::span<uint8_t> out, std::size_t at, uint16_t value)
{
    out[at] = static_cast<uint8_t>(value >> 8);
    out[at + 1] = static_cast<uint8_t>(value);
}

void put32(std::span<uint8_t> out, std::size_t at, uint32_t value)
{
    put16(out, at, static_cast<uint16_t>(value >> 16));
    put16(out, at + 2, static_cast<uint16_t>(value));
}

// Top nibble 0x7 (vector, header and data all present), then the 12-bit length.
void putFlagsAndLength(std::span<uint8_t> out, std::size_t at)
{
    put16(out, at, static_cast<uint16_t>(0x7000 | (out.size() - at)));
}

// The root layer and the framing layer's vector and source name, alike in both packets.
void putHead(
    std::span<uint8_t> out, const SacnSource &source, uint32_t rootVector, uint32_t framingVector)
{
    put16(out, 0, 0x0010); // preamble size
    put16(out, 2, 0x0000); // post-amble size
    std::copy(kAcnPacketId.begin(), kAcnPacketId.end(), out.begin() + 4);
    putFlagsAndLength(out, kRootLayerAt);
    put32(out, 18, rootVector);
    std::copy(source.cid.begin(), source.cid.end(), out.begin() + 22);
    putFlagsAndLength(out, kFramingLayerAt);
    put32(out, 40, framingVector);
    const auto name = cutUtf8(source.name, kSacnSourceNameSize - 1);
    auto nameEnd = std::copy(name.begin(), name.end(), out.begin() + kSourceNameAt);
    std::fill(nameEnd, out.begin() + kSourceNameAt + kSacnSourceNameSize, 0);
}

// SHA-1, which name-based UUIDs are defined over; only ever run on a few dozen bytes at an open.
std::array<uint8_t, 20> sha1(std::vector<uint8_t> message)
{
    const uint64_t bits = uint64_t(message.size()) * 8;
    message.push_back(0x80);
    while (message.size() % 64 != 56)
        message.push_back(0);
    for (int shift = 56; shift >= 0; shift -= 8)
        message.push_back(static_cast<uint8_t>(bits >> shift));
    uint32_t h[5] = { 0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0 };
    for (std::size_t block = 0; block < message.size(); block += 64) {
        uint32_t w[80];
        for (int i = 0; i < 16; ++i)
            w[i] = uint32_t(message[block + 4 * i]) << 24
                | uint32_t(message[block + 4 * i + 1]) << 16
                | uint32_t(message[block + 4 * i + 2]) << 8 | message[block + 4 * i + 3];
        for (int i = 16; i < 80; ++i)
            w[i] = std::rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            const uint32_t f = i < 20 ? ((b & c) | (~b & d)) + 0x5a827999
                : i < 40              ? (b ^ c ^ d) + 0x6ed9eba1
                : i < 60              ? ((b & c) | (b & d) | (c & d)) + 0x8f1bbcdc
                                      : (b ^ c ^ d) + 0xca62c1d6;
            const uint32_t next = std::rotl(a, 5) + f + e + w[i];
            e = d, d = c, c = std::rotl(b, 30), b = a, a = next;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    std::array<uint8_t, 20> digest;
    for (std::size_t i = 0; i < digest.size(); ++i)
        digest[i] = static_cast<uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

} // namespace

void encodeSacnData(std::span<uint8_t, kSacnPacketSize> out, const SacnSource &source,
    uint8_t sequence, uint8_t options, Frame levels)
{
    putHead(out, source, kVectorRootData, kVectorFramingData);
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

void encodeSacnDiscovery(std::span<uint8_t, kSacnDiscoverySize> out, const SacnSource &source)
{
    putHead(out, source, kVectorRootExtended, kVectorFramingDiscovery);
    put32(out, 108, 0); // reserved
    putFlagsAndLength(out, kDiscoveryLayerAt);
    put32(out, 114, kVectorDiscoveryList);
    out[118] = 0; // this page
    out[119] = 0; // the last page
    put16(out, 120, source.universe);
}

Cid makeUuidV5(const Cid &space, std::string_view name)
{
    std::vector<uint8_t> message(space.begin(), space.end());
    message.insert(message.end(), name.begin(), name.end());
    const auto digest = sha1(std::move(message));
    Cid uuid;
    std::copy_n(digest.begin(), uuid.size(), uuid.begin());
    uuid[6] = static_cast<uint8_t>((uuid[6] & 0x0f) | 0x50);
    uuid[8] = static_cast<uint8_t>((uuid[8] & 0x3f) | 0x80);
    return uuid;
}

Cid sacnSourceCid(std::string_view machineId, unsigned uid)
{
    return makeUuidV5(kCidNamespace, std::string(machineId) + "/" + std::to_string(uid));
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
