// Text on the wire: cutting at character boundaries, and replacing what a terminal would act on.
#include "encode/wire_text.h"

namespace das {

namespace {

constexpr std::string_view kReplacement = "\xef\xbf\xbd"; // U+FFFD

bool isContinuation(unsigned char byte) { return (byte & 0xc0) == 0x80; }

// Characters a terminal or a text view acts on: C0, DEL and C1 controls, the line and paragraph
// separators, and the bidirectional embeddings, overrides and isolates, which reorder the rest of
// a line on screen.
bool actsOnText(char32_t code)
{
    return code < 0x20 || (code >= 0x7f && code < 0xa0) || (code >= 0x2028 && code <= 0x202e)
        || (code >= 0x2066 && code <= 0x2069);
}

// The length of the well-formed UTF-8 character at the start of `text` and its code point, or
// 0 when it is not one (stray or missing continuation bytes, overlong forms, surrogates, past
// U+10FFFF).
std::size_t utf8Character(std::string_view text, char32_t &code)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t more = 0;
    char32_t least = 0;
    code = lead;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xf0 && lead < 0xf8)
        more = 3, code = lead & 0x07, least = 0x10000;
    else if (lead >= 0xe0)
        more = 2, code = lead & 0x0f, least = 0x800;
    else if (lead >= 0xc0)
        more = 1, code = lead & 0x1f, least = 0x80;
    if (more == 0 || lead >= 0xf8 || text.size() <= more)
        return 0;
    for (std::size_t k = 1; k <= more; ++k) {
        if (!isContinuation(static_cast<unsigned char>(text[k])))
            return 0;
        code = code << 6 | (static_cast<unsigned char>(text[k]) & 0x3f);
    }
    if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return 0;
    return more + 1;
}

} // namespace

std::string_view cutUtf8(std::string_view text, std::size_t bytes)
{
    if (text.size() <= bytes)
        return text;
    while (bytes > 0 && isContinuation(static_cast<unsigned char>(text[bytes])))
        --bytes;
    return text.substr(0, bytes);
}

std::string printableText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        char32_t code = 0;
        const std::size_t size = utf8Character(text, code);
        if (size == 0 || actsOnText(code))
            out += kReplacement;
        else
            out += text.substr(0, size);
        text.remove_prefix(size ? size : 1);
    }
    return out;
}

} // namespace das
