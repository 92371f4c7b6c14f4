// Reassembling widget replies from a noisy byte stream, whole and one byte at a time.
#include "encode/usbpro.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

struct ParserCase
{
    const char *name;
    Bytes before; // what precedes the serial-number reply 7E 0A 04 00 78 56 34 12 E7
    Bytes junkPayload = {}; // when set, a good message carrying this payload comes first
};

class UsbProParser : public testing::TestWithParam<ParserCase>
{
};

TEST_P(UsbProParser, FindsTheReplyBehindAnything)
{
    const ParserCase &c = GetParam();
    Bytes stream = c.before;
    if (!c.junkPayload.empty()) {
        const Bytes first = das::encodeUsbProMessage(6, c.junkPayload);
        stream.insert(stream.begin(), first.begin(), first.end());
    }
    stream.insert(stream.end(), { 0x7E, 0x0A, 0x04, 0x00, 0x78, 0x56, 0x34, 0x12, 0xE7 });

    for (bool bytewise : { false, true }) {
        das::UsbProParser parser;
        std::vector<das::UsbProMessage> got;
        for (size_t at = 0; at < stream.size(); at += bytewise ? 1 : stream.size())
            for (auto &m : parser.feed(std::span(stream).subspan(at, bytewise ? 1 : stream.size())))
                got.push_back(std::move(m));
        SCOPED_TRACE(bytewise ? "one byte at a time" : "whole");
        ASSERT_EQ(got.size(), c.junkPayload.empty() ? 1u : 2u);
        if (got.size() == 2) {
            EXPECT_EQ(got[0].payload, c.junkPayload);
        }
        EXPECT_EQ(got.back().label, 10);
        EXPECT_EQ(got.back().payload, (Bytes { 0x78, 0x56, 0x34, 0x12 }));
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, UsbProParser,
    testing::Values(ParserCase { "JunkBeforeStart", { 0x01, 0xE7, 0x00, 0x0A } },
        // 601 bytes claimed: dropped without waiting for them.
        ParserCase { "LengthOver600", { 0x7E, 0x05, 0x59, 0x02, 0x00 } },
        ParserCase { "MissingEnd", { 0x7E, 0x0A, 0x04, 0x00, 1, 2, 3, 4, 0x00 } },
        // A stray start reads as label 0x7E with an absurd length.
        ParserCase { "StrayStart", { 0x7E } },
        ParserCase { "Length600BackToBack", {}, Bytes(600, 0x7E) }),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
