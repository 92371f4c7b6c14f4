// What brivane-check --scan parses from the network: ArtPollReply and sACN data packets. What
// either parser accepts holds fields in their ranges; sACN read, encoded again, reads back the
// same; names print with no control byte; replies back to back (a node's groups of ports) merge
// into one node per address holding every port-address each reply gave.
#include "check.h"
#include "encode/artnet.h"
#include "encode/sacn.h"
#include "encode/wire_text.h"

#include <algorithm>

namespace {

void checkPrintable(const std::string &text)
{
    const std::string shown = das::printableText(text);
    // What it shows is well-formed text already: showing it again changes nothing.
    FUZZ_CHECK(das::printableText(shown) == shown);
    FUZZ_CHECK(std::none_of(shown.begin(), shown.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }));
}

void checkMerge(std::span<const uint8_t> data)
{
    static constexpr uint8_t kId[] = { 'A', 'r', 't', '-', 'N', 'e', 't', 0 };
    std::vector<das::ArtNode> nodes, replies;
    for (auto at = data.begin(); at != data.end();) {
        const auto next = std::search(at + 1, data.end(), std::begin(kId), std::end(kId));
        if (auto node = das::parseArtPollReply({ at, next })) {
            checkPrintable(node->shortName), checkPrintable(node->longName);
            replies.push_back(*node);
            das::mergeArtNode(nodes, std::move(*node));
        }
        at = next;
    }
    for (const das::ArtNode &reply : replies) {
        const auto same = [&](const das::ArtNode &node) { return node.address == reply.address; };
        FUZZ_CHECK(std::count_if(nodes.begin(), nodes.end(), same) == 1);
        const auto &outputs = std::find_if(nodes.begin(), nodes.end(), same)->outputs;
        FUZZ_CHECK(std::adjacent_find(outputs.begin(), outputs.end(), std::greater_equal<>())
            == outputs.end());
        FUZZ_CHECK(std::includes(
            outputs.begin(), outputs.end(), reply.outputs.begin(), reply.outputs.end()));
    }
}

} // namespace

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
    checkMerge(packet);
    if (const auto heard = das::parseSacnData(packet)) {
        checkPrintable(heard->name);
        FUZZ_CHECK(heard->priority <= das::kSacnMaxPriority && heard->name.size() <= 63
            && heard->name.find('\0') == std::string::npos);
        const das::SacnSource source { heard->cid, heard->name, heard->priority, heard->universe };
        std::array<uint8_t, das::kSacnPacketSize> again {};
        das::encodeSacnData(
            again, source, 0, heard->options, std::array<uint8_t, das::kFrameSize> {});
        const auto back = das::parseSacnData(again);
        FUZZ_CHECK(back && back->cid == heard->cid && back->name == heard->name
            && back->priority == heard->priority && back->universe == heard->universe
            && back->options == heard->options);
    }
    return 0;
}
