// A pseudo-terminal that plays a serial DMX device. The code under test opens path(); a thread
// drains what it writes, reassembles USB Pro messages and answers the serial-number and
// parameter requests when told to. The test can stop the draining or pull the plug.
#pragma once

#include "encode/usbpro.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class PtyPeer
{
public:
    struct Received
    {
        std::vector<uint8_t> bytes;
        std::vector<das::UsbProMessage> messages;
    };

    // Answers label 10 (serial 12345678) and label 3 (firmware 1.68, 40 packets/s) if asked.
    explicit PtyPeer(bool answerSerial = true, bool answerParameters = true);
    ~PtyPeer();

    const std::string &path() const { return m_path; }
    // Waits up to `timeout` until `done` holds for what has arrived.
    bool waitFor(const std::function<bool(const Received &)> &done,
        std::chrono::milliseconds timeout = std::chrono::seconds(5));
    Received received();
    // The device side's line settings through termios2: output baud and c_cflag.
    std::pair<unsigned, unsigned> line() const;

    void setDraining(bool on) { m_draining = on; }
    // Closes the device end, as unplugging the adapter does.
    void unplug();

private:
    void run();

    bool m_answerSerial, m_answerParameters;
    int m_master = -1, m_slave = -1;
    std::string m_path;
    std::atomic<bool> m_draining { true }, m_quit { false };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    Received m_received;
    das::UsbProParser m_parser;
    std::thread m_reader;
};
