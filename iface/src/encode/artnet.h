// Art-Net 4 ArtDmx packets: a pure builder over a caller's fixed buffer.
#pragma once

#include "backend.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

inline constexpr std::size_t kArtPollSize = 14;
inline constexpr std::size_t kArtPollReplyMinSize = 207;

// Writes an ArtPoll that asks every node for one ArtPollReply and nothing more.
void encodeArtPoll(std::span<uint8_t, kArtPollSize> out);

// What a node says of itself in its ArtPollReply.
struct ArtNode
{
    uint32_t address = 0; // host order, as the node gives it
    std::string shortName, longName; // up to 17 and 63 bytes, as sent (no NUL)
    std::vector<uint16_t> outputs; // the port-addresses of its output ports, ascending
    uint8_t bindIndex = 0; // which group of its ports a reply tells of (0: the reply does not say)
};

// Reads an ArtPollReply; nullopt for any other packet, or one too short to be one.
std::optional<ArtNode> parseArtPollReply(std::span<const uint8_t> packet);

// Adds one reply to `nodes`: a node with more ports than one reply holds answers once per group
// of them, all from its one address, so replies of the same address make one node with all their
// port-addresses, named as its lowest BindIndex names it.
void mergeArtNode(std::vector<ArtNode> &nodes, ArtNode reply);

// The port-address an ArtDmx packet is for; nullopt for any other packet.
std::optional<uint16_t> parseArtDmx(std::span<const uint8_t> packet);

} // namespace das
