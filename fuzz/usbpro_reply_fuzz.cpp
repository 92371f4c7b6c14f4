// The USB Pro reply parser on arbitrary bytes cut into arbitrary pieces: the pieces give the same
// messages as the whole, and every message is one that stands framed, in order, in the stream.
//
// Input: a count N (low four bits of the first byte), N piece sizes, then the stream.
#include "check.h"
#include "encode/usbpro.h"

#include <algorithm>

namespace {

bool sameMessages(
    const std::vector<das::UsbProMessage> &a, const std::vector<das::UsbProMessage> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
        [](const auto &x, const auto &y) { return x.label == y.label && x.payload == y.payload; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t cutCount = std::min<size_t>(data[0] & 0x0F, size - 1);
    const std::span<const uint8_t> cuts(data + 1, cutCount);
    const std::span<const uint8_t> stream(data + 1 + cutCount, size - 1 - cutCount);

    das::UsbProParser whole;
    const std::vector<das::UsbProMessage> expected = whole.feed(stream);

    das::UsbProParser pieces;
    std::vector<das::UsbProMessage> got;
    const auto keep = [&](std::vector<das::UsbProMessage> messages) {
        got.insert(got.end(), messages.begin(), messages.end());
    };
    for (size_t at = 0, i = 0; at < stream.size(); ++i) {
        const size_t cut = cuts.empty() ? 1 : cuts[i % cuts.size()];
        if (cut == 0) // an empty piece must change nothing
            keep(pieces.feed({}));
        const size_t take = std::min(std::max<size_t>(cut, 1), stream.size() - at);
        keep(pieces.feed(stream.subspan(at, take)));
        at += take;
    }
    FUZZ_CHECK(sameMessages(expected, got));
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
