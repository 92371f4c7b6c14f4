// Message framing for DMX USB Pro-style widgets.
#include "usbpro.h"

#include <algorithm>

namespace das {

std::vector<uint8_t> encodeUsbProMessage(uint8_t label, std::span<const uint8_t> payload)
{
    const size_t size = std::min(payload.size(), kUsbProMaxPayload);
    std::vector<uint8_t> out;
    out.reserve(size + kUsbProOverhead);
    out.push_back(kUsbProStart);
    out.push_back(label);
    out.push_back(uint8_t(size & 0xFF));
    out.push_back(uint8_t(size >> 8));
    out.insert(out.end(), payload.begin(), payload.begin() + ptrdiff_t(size));
    out.push_back(kUsbProEnd);
    return out;
}

void encodeUsbProDmx(Frame frame, UsbProDmxMessage &out)
{
    constexpr size_t payload = 1 + kFrameSize;
    out[0] = kUsbProStart;
    out[1] = kUsbProSendDmx;
    out[2] = uint8_t(payload & 0xFF);
    out[3] = uint8_t(payload >> 8);
    out[4] = 0x00; // START code: dimmer levels
    std::copy(frame.begin(), frame.end(), out.begin() + 5);
    out[out.size() - 1] = kUsbProEnd;
}

std::vector<UsbProMessage> UsbProParser::feed(std::span<const uint8_t> bytes)
{
    std::vector<UsbProMessage> found;
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    size_t pos = 0;
    const auto dropTo = [&](size_t next) {
        m_discarded += next - pos;
        pos = next;
    };
    while (pos < m_pending.size()) {
        if (m_pending[pos] != kUsbProStart) {
            const auto start
                = std::find(m_pending.begin() + ptrdiff_t(pos), m_pending.end(), kUsbProStart);
            dropTo(size_t(start - m_pending.begin()));
            continue;
        }
        if (m_pending.size() - pos < 4)
            break;
        const size_t length = m_pending[pos + 2] | size_t(m_pending[pos + 3]) << 8;
        if (length > kUsbProMaxPayload) {
            dropTo(pos + 1);
            continue;
        }
        const size_t end = pos + 4 + length;
        if (end >= m_pending.size())
            break;
        if (m_pending[end] != kUsbProEnd) {
            dropTo(pos + 1);
            continue;
        }
        UsbProMessage message;
        message.label = m_pending[pos + 1];
        message.payload.assign(
            m_pending.begin() + ptrdiff_t(pos + 4), m_pending.begin() + ptrdiff_t(end));
        found.push_back(std::move(message));
        pos = end + 1;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + ptrdiff_t(pos));
    return found;
}

} // namespace das
