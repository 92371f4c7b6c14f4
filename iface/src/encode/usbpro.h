// Message framing for DMX USB Pro-style widgets: building requests and DMX messages, and
// reassembling the widget's replies from a byte stream.
#pragma once

#include "backend.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace das {

inline constexpr uint8_t kUsbProStart = 0x7E;
inline constexpr uint8_t kUsbProEnd = 0xE7;
inline constexpr size_t kUsbProMaxPayload = 600;
// Delimiter, label and two length bytes in front of the payload, the end delimiter after it.
inline constexpr size_t kUsbProOverhead = 5;

enum UsbProLabel : uint8_t {
    kUsbProGetParameters = 3,
    kUsbProSendDmx = 6, // output only; the widget repeats the last one until told otherwise
    kUsbProGetSerial = 10,
};

// START code plus 512 levels, framed.
inline constexpr size_t kUsbProDmxMessageSize = kUsbProOverhead + 1 + kFrameSize;
using UsbProDmxMessage = std::array<uint8_t, kUsbProDmxMessageSize>;

// Frames one message. The payload must not exceed kUsbProMaxPayload bytes (longer ones are cut).
std::vector<uint8_t> encodeUsbProMessage(uint8_t label, std::span<const uint8_t> payload);

// Frames the 512 levels (channel 1 first) as an Output Only Send DMX message, START code 0.
void encodeUsbProDmx(Frame frame, UsbProDmxMessage &out);

struct UsbProMessage
{
    uint8_t label = 0;
    std::vector<uint8_t> payload;
};

// Reassembles messages from bytes that arrive in arbitrary pieces. Bytes before a start
// delimiter, messages claiming more than kUsbProMaxPayload bytes and messages whose end delimiter
// is missing are dropped; the search for the next message then resumes right after the
// rejected start delimiter, so a real message hidden inside the junk is still found.
class UsbProParser
{
public:
    // Takes the next bytes of the stream; returns the messages they complete, in order.
    std::vector<UsbProMessage> feed(std::span<const uint8_t> bytes);
    // Bytes thrown away so far while resynchronising.
    size_t discarded() const { return m_discarded; }

private:
    std::vector<uint8_t> m_pending;
    size_t m_discarded = 0;
};

} // namespace das
