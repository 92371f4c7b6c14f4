// The parsers brivane-check --scan feeds with whatever the network sends: ArtPollReply and sACN
// data packets. Every packet either parser accepts holds fields in their ranges, and what the
// sACN parser reads, written again by the encoder, reads back the same.
#include "check.h"
#include "encode/artnet.h"
#include "encode/sacn.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::span<const uint8_t> packet(data, size);
    if (const auto node = das::parseArtPollReply(packet)) {
        FUZZ_CHECK(size >= das::kArtPollReplyMinSize && node->outputs.size() <= 4);
        FUZZ_CHECK(node->shortName.size() <= 17 && node->longName.size() <= 63);
        FUZZ_CHECK(node->shortName.find('\0') == std::string::npos
            && node->longName.find('\0') == std::string::npos);
        for (const uint16_t output : node->outputs)
            FUZZ_CHECK(output <= das::kArtNetMaxPortAddress);
    }
    if (const auto heard = das::parseSacnData(packet)) {
        FUZZ_CHECK(heard->priority <= das::kSacnMaxPriority && heard->name.size() <= 63
            && heard->name.find('\0') == std::string::npos);
        const das::SacnSource source { heard->cid, heard->name, heard->priority, heard->universe };
        std::array<uint8_t, das::kSacnPacketSize> again {};
        std::array<uint8_t, das::kFrameSize> levels {};
        das::encodeSacnData(again, source, 0, heard->options, levels);
        const auto back = das::parseSacnData(again);
        FUZZ_CHECK(back && back->cid == heard->cid && back->name == heard->name
            && back->priority == heard->priority && back->universe == heard->universe
            && back->options == heard->options);
    }
    return 0;
}
