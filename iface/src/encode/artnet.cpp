// The ArtDmx builder: fixed header, 15-bit port-address split into SubUni/Net, 512 data slots.
#include "encode/artnet.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string>

namespace das {

namespace {

constexpr std::array<uint8_t, 8> kArtNetId = { 'A', 'r', 't', '-', 'N', 'e', 't', 0 };
constexpr uint16_t kOpDmx = 0x5000;
constexpr uint16_t kOpPoll = 0x2000;
constexpr uint16_t kOpPollReply = 0x2100;
constexpr std::size_t kShortNameAt = 26, kShortNameSize = 18;
constexpr std::size_t kLongNameAt = 44, kLongNameSize = 64;
constexpr std::size_t kNumPortsAt = 172, kPortTypesAt = 174, kSwOutAt = 190, kBindIndexAt = 211;
constexpr uint8_t kPortCanOutput = 0x80;

// A NUL-terminated text field, or all of it when it has no NUL.
std::string textField(std::span<const uint8_t> packet, std::size_t at, std::size_t size)
{
    const auto field = packet.subspan(at, size);
    const auto end = std::find(field.begin(), field.end(), 0);
    return std::string(field.begin(), end);
}
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

void encodeArtPoll(std::span<uint8_t, kArtPollSize> out)
{
    std::copy(kArtNetId.begin(), kArtNetId.end(), out.begin());
    out[8] = kOpPoll & 0xff;
    out[9] = kOpPoll >> 8;
    out[10] = kProtocolVersion >> 8;
    out[11] = kProtocolVersion & 0xff;
    out[12] = 0; // flags: one reply, no diagnostics, not targeted
    out[13] = 0; // diagnostics priority: none asked for
}

std::optional<ArtNode> parseArtPollReply(std::span<const uint8_t> packet)
{
    if (packet.size() < kArtPollReplyMinSize
        || !std::equal(kArtNetId.begin(), kArtNetId.end(), packet.begin())
        || packet[8] != (kOpPollReply & 0xff) || packet[9] != kOpPollReply >> 8)
        return std::nullopt;
    ArtNode node;
    // The node's own address, in network order (it has no protocol version field before it).
    node.address = uint32_t(packet[10]) << 24 | uint32_t(packet[11]) << 16
        | uint32_t(packet[12]) << 8 | packet[13];
    node.shortName = textField(packet, kShortNameAt, kShortNameSize - 1);
    node.longName = textField(packet, kLongNameAt, kLongNameSize - 1);
    // Port-address of output port i: Net (7 bits), Sub-Net (4) and that port's Universe (4).
    const unsigned ports = std::min<unsigned>(packet[kNumPortsAt + 1], 4);
    const uint16_t base = uint16_t((packet[18] & 0x7f) << 8 | (packet[19] & 0x0f) << 4);
    for (unsigned i = 0; i < ports; ++i)
        if (packet[kPortTypesAt + i] & kPortCanOutput)
            node.outputs.push_back(uint16_t(base | (packet[kSwOutAt + i] & 0x0f)));
    std::sort(node.outputs.begin(), node.outputs.end());
    node.outputs.erase(std::unique(node.outputs.begin(), node.outputs.end()), node.outputs.end());
    node.bindIndex = packet.size() > kBindIndexAt ? packet[kBindIndexAt] : 0;
    return node;
}

void mergeArtNode(std::vector<ArtNode> &nodes, ArtNode reply)
{
    const auto known = std::find_if(nodes.begin(), nodes.end(),
        [&](const ArtNode &node) { return node.address == reply.address; });
    if (known == nodes.end()) {
        nodes.push_back(std::move(reply));
        return;
    }
    std::vector<uint16_t> outputs;
    std::set_union(known->outputs.begin(), known->outputs.end(), reply.outputs.begin(),
        reply.outputs.end(), std::back_inserter(outputs));
    if (reply.bindIndex < known->bindIndex)
        *known = std::move(reply);
    known->outputs = std::move(outputs);
}

std::optional<uint16_t> parseArtDmx(std::span<const uint8_t> packet)
{
    if (packet.size() < 18 || !std::equal(kArtNetId.begin(), kArtNetId.end(), packet.begin())
        || packet[8] != (kOpDmx & 0xff) || packet[9] != kOpDmx >> 8)
        return std::nullopt;
    return uint16_t((packet[15] & 0x7f) << 8 | packet[14]); // Net, then Sub-Net and Universe
}

} // namespace das
