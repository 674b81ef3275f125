#pragma once

// A live line that records what it is sent, like a BBS that reads the keys.
// What it was sent outlives it: a stopped line releases itself.

#include "connection/byte_sender.h"
#include "connection/connection_thread.h"

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace telvora::test {

class RecordingLine : public TConnectionThread, public TByteSender {
public:
    explicit RecordingLine(std::vector<std::uint8_t>& sent)
        : TConnectionThread(300), m_sent(sent) {}
    Kind ConnectionKind() const override { return Kind::Telnet; }
    QString StatusText() const override { return {}; }
    void SendByte(std::uint8_t code) override { m_sent.push_back(code); }

protected:
    void run() override {
        while (!StopRequested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

private:
    std::vector<std::uint8_t>& m_sent;
};

} // namespace telvora::test
