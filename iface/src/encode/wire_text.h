// Text on the wire: names we put in packets, and names other devices put there, made safe to
// print.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace das {

// The first `bytes` bytes of `text` at most, never ending inside a UTF-8 character.
std::string_view cutUtf8(std::string_view text, std::size_t bytes);

// `text` as received, with each control character (C0, DEL, C1), line or paragraph separator,
// bidirectional control (U+202A-U+202E, U+2066-U+2069) and each byte that is not part of
// well-formed UTF-8 replaced by U+FFFD, so that a packet cannot write lines or escape sequences
// into a report, nor reorder a line of it.
std::string printableText(std::string_view text);

} // namespace das
