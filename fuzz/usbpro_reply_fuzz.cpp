// The USB Pro reply parser on arbitrary bytes cut into arbitrary pieces: the pieces give the same
// messages as the whole, and every message is one that stands framed, in order, in the stream.
// Input: a count N (low four bits of the first byte), N piece sizes, then the stream.
#include "check.h"
#include "encode/usbpro.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const std::span<const uint8_t> cuts(data + 1, std::min<size_t>(data[0] & 0x0F, size - 1));
    const std::span<const uint8_t> stream(data + 1 + cuts.size(), size - 1 - cuts.size());
    das::UsbProParser whole, pieces;
    const std::vector<das::UsbProMessage> expected = whole.feed(stream);
    std::vector<das::UsbProMessage> got;
    for (size_t at = 0, i = 0; at < stream.size(); ++i) {
        const size_t cut = cuts.empty() ? 1 : cuts[i % cuts.size()];
        const size_t take = std::min(std::max<size_t>(cut, 1), stream.size() - at);
        // An empty piece must change nothing.
        for (const auto &piece : { stream.subspan(at, 0), stream.subspan(at, take) })
            for (auto &message : pieces.feed(piece))
                got.push_back(std::move(message));
        at += take;
    }
    FUZZ_CHECK(std::equal(expected.begin(), expected.end(), got.begin(), got.end(),
        [](const auto &x, const auto &y) { return x.label == y.label && x.payload == y.payload; }));
    FUZZ_CHECK(whole.discarded() == pieces.discarded());
    size_t from = 0, framed = 0;
    for (const das::UsbProMessage &message : expected) {
        FUZZ_CHECK(message.payload.size() <= das::kUsbProMaxPayload);
        const std::vector<uint8_t> bytes = das::encodeUsbProMessage(message.label, message.payload);
        const auto at = std::search(
            stream.begin() + ptrdiff_t(from), stream.end(), bytes.begin(), bytes.end());
        FUZZ_CHECK(at != stream.end());
        from = size_t(at - stream.begin()) + bytes.size();
        framed += bytes.size();
    }
    FUZZ_CHECK(framed + whole.discarded() <= stream.size());
    return 0;
}
