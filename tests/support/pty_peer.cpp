// A pseudo-terminal that plays a serial DMX device.
#include "pty_peer.h"

#include <array>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <unistd.h>

PtyPeer::PtyPeer(bool answerSerial, bool answerParameters)
    : m_answerSerial(answerSerial)
    , m_answerParameters(answerParameters)
{
    if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    m_path = ::ttyname(m_slave);
    m_reader = std::thread([this] { run(); });
}

PtyPeer::~PtyPeer()
{
    unplug();
    ::close(m_slave);
}

void PtyPeer::unplug()
{
    m_quit = true;
    if (m_reader.joinable())
        m_reader.join();
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool PtyPeer::waitFor(
    const std::function<bool(const Received &)> &done, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return done(m_received); });
}

PtyPeer::Received PtyPeer::received()
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

void PtyPeer::run()
{
    // Replies as a widget sends them: start, label, length LSB/MSB, payload, end.
    constexpr uint8_t kSerialReply[] { 0x7E, 10, 4, 0, 0x78, 0x56, 0x34, 0x12, 0xE7 };
    constexpr uint8_t kParametersReply[] { 0x7E, 3, 5, 0, 0x44, 0x01, 9, 1, 40, 0xE7 };
    std::array<uint8_t, 4096> buffer;
    while (!m_quit) {
        pollfd entry { m_master, POLLIN, 0 };
        if (!m_draining || ::poll(&entry, 1, 10) <= 0 || !(entry.revents & POLLIN)) {
            ::usleep(m_draining ? 0 : 5000);
            continue;
        }
        const ssize_t got = ::read(m_master, buffer.data(), buffer.size());
        if (got <= 0)
            continue;
        std::lock_guard lock(m_mutex);
        const auto chunk = std::span(buffer).first(size_t(got));
        m_received.bytes.insert(m_received.bytes.end(), chunk.begin(), chunk.end());
        for (das::UsbProMessage &message : m_parser.feed(chunk)) {
            if (message.label == 10 && m_answerSerial)
                (void)!::write(m_master, kSerialReply, sizeof kSerialReply);
            if (message.label == 3 && m_answerParameters)
                (void)!::write(m_master, kParametersReply, sizeof kParametersReply);
            m_received.messages.push_back(std::move(message));
        }
        m_changed.notify_all();
    }
}
