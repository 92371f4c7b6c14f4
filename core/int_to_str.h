// Decimal text for the value panels, without touching the heap.
#pragma once

#include <charconv>
#include <cstdint>
#include <string_view>

namespace core {

// Holds the digits of one 32-bit number.
class ShortText
{
public:
    explicit ShortText(int32_t value)
    {
        auto res = std::to_chars(m_text, m_text + sizeof m_text, value);
        m_size = static_cast<std::size_t>(res.ptr - m_text);
    }
    operator std::string_view() const { return { m_text, m_size }; }

private:
    char m_text[12];
    std::size_t m_size;
};

// Signed decimal, no leading zeros, a sign only when negative: "0", "7", "255", "-1".
inline ShortText IntToStr(int32_t value) { return ShortText(value); }

} // namespace core
