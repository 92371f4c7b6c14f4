// Golden headers for ArtDmx and E1.31, each field commented, and the checks built on them.
#include "packet_checks.h"

#include <algorithm>
#include <set>

namespace nettest {

namespace {

// ArtDmx, port-address bytes and sequence left 0 here: they are compared separately.
// clang-format off
constexpr std::array<uint8_t, 18> kArtDmxHeader = {
    0x41, 0x72, 0x74, 0x2d, 0x4e, 0x65, 0x74, 0x00, // ID "Art-Net" + NUL
    0x00, 0x50,                                     // OpCode OpDmx 0x5000, low byte first
    0x00, 0x0e,                                     // ProtVer 14, high byte first
    0x00,                                           // Sequence (varies)
    0x00,                                           // Physical port
    0x00,                                           // SubUni (varies)
    0x00,                                           // Net (varies)
    0x02, 0x00,                                     // Length 512, high byte first
};
// clang-format on
constexpr std::size_t kArtSequenceAt = 12;
constexpr std::size_t kArtSubUniAt = 14;
constexpr std::size_t kArtNetAt = 15;

// E1.31 data packet header; CID, sequence, options and universe left 0: compared separately.
// clang-format off
constexpr std::array<uint8_t, 126> kSacnHeader = {
    // Root layer
    0x00, 0x10,                                     // preamble size 16
    0x00, 0x00,                                     // post-amble size 0
    0x41, 0x53, 0x43, 0x2d, 0x45, 0x31, 0x2e, 0x31, // packet identifier "ASC-E1.17"
    0x37, 0x00, 0x00, 0x00,                         //   and three NULs
    0x72, 0x6e,                                     // flags 7, length 622
    0x00, 0x00, 0x00, 0x04,                         // vector: E1.31 data
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // CID (varies)
    // Framing layer
    0x72, 0x58,                                     // flags 7, length 600
    0x00, 0x00, 0x00, 0x02,                         // vector: data packet
    'B', 'r', 'i', 'v', 'a', 'n', 'e', 0,           // source name,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //   NUL-padded
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //   to 64 bytes
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,
    100,                                            // priority
    0x00, 0x00,                                     // synchronization address: none
    0x00,                                           // sequence (varies)
    0x00,                                           // options (varies)
    0x00, 0x00,                                     // universe (varies)
    // DMP layer
    0x72, 0x0b,                                     // flags 7, length 523
    0x02,                                           // vector: set property
    0xa1,                                           // address and data type
    0x00, 0x00,                                     // first property address
    0x00, 0x01,                                     // address increment
    0x02, 0x01,                                     // property value count 513
    0x00,                                           // START code: dimmer levels
};
// clang-format on
constexpr std::size_t kSacnCidAt = 22;
constexpr std::size_t kSacnSequenceAt = 111;
constexpr std::size_t kSacnOptionsAt = 112;
constexpr std::size_t kSacnUniverseAt = 113;

::testing::AssertionResult fieldIs(
    const Packet &packet, std::size_t at, uint8_t expected, const char *field)
{
    if (packet[at] == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << field << " (byte " << at << ") is " << int(packet[at]) << ", expected " << int(expected);
}

::testing::AssertionResult headerMatches(
    const Packet &packet, std::span<const uint8_t> golden, const std::set<std::size_t> &varying)
{
    for (std::size_t i = 0; i < golden.size(); ++i)
        if (!varying.count(i) && packet[i] != golden[i])
            return ::testing::AssertionFailure()
                << "header byte " << i << " is 0x" << std::hex << int(packet[i]) << ", expected 0x"
                << int(golden[i]);
    return ::testing::AssertionSuccess();
}

} // namespace

::testing::AssertionResult isArtDmx(
    const Packet &packet, std::array<uint8_t, 2> subUniNet, uint8_t sequence, const Levels &levels)
{
    if (packet.size() != 530)
        return ::testing::AssertionFailure() << "ArtDmx of " << packet.size() << " bytes";
    if (auto r = headerMatches(packet, kArtDmxHeader, { kArtSequenceAt, kArtSubUniAt, kArtNetAt });
        !r)
        return r;
    if (auto r = fieldIs(packet, kArtSequenceAt, sequence, "sequence"); !r)
        return r;
    if (auto r = fieldIs(packet, kArtSubUniAt, subUniNet[0], "SubUni"); !r)
        return r;
    if (auto r = fieldIs(packet, kArtNetAt, subUniNet[1], "Net"); !r)
        return r;
    if (auto r = bytesEqual(levels, std::span(packet).subspan(18)); !r)
        return r << " (in the ArtDmx data)";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult isSacnData(const Packet &packet, const SacnExpect &expect)
{
    if (packet.size() != 638)
        return ::testing::AssertionFailure() << "E1.31 packet of " << packet.size() << " bytes";
    std::set<std::size_t> varying { kSacnSequenceAt, kSacnOptionsAt, kSacnUniverseAt,
        kSacnUniverseAt + 1 };
    for (std::size_t i = 0; i < 16; ++i)
        varying.insert(kSacnCidAt + i);
    if (auto r = headerMatches(packet, kSacnHeader, varying); !r)
        return r;
    if (auto r = fieldIs(packet, kSacnSequenceAt, expect.sequence, "sequence"); !r)
        return r;
    if (auto r = fieldIs(packet, kSacnOptionsAt, expect.options, "options"); !r)
        return r;
    if (auto r = fieldIs(packet, kSacnUniverseAt, expect.universe[0], "universe high byte"); !r)
        return r;
    if (auto r = fieldIs(packet, kSacnUniverseAt + 1, expect.universe[1], "universe low byte"); !r)
        return r;
    if (expect.levels)
        if (auto r = bytesEqual(*expect.levels, std::span(packet).subspan(126)); !r)
            return r << " (in the E1.31 slots)";
    return ::testing::AssertionSuccess();
}

Cid sacnCid(const Packet &packet)
{
    Cid cid {};
    if (packet.size() >= kSacnCidAt + cid.size())
        std::copy_n(packet.begin() + kSacnCidAt, cid.size(), cid.begin());
    return cid;
}

bool isRandomUuid(const Cid &cid) { return (cid[6] & 0xf0) == 0x40 && (cid[8] & 0xc0) == 0x80; }

} // namespace nettest
