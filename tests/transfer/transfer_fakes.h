#pragma once

// What the block receiver's and the block sender's tests share: a fake line
// with a manual timer, and blocks as a sender builds them.

#include "transfer/block_crc.h"
#include "transfer/transfer_port.h"

#include <string>
#include <vector>

namespace telvora::test {

using Bytes = std::vector<std::uint8_t>;

class FakePort : public TTransferPort {
public:
    void Send(const std::uint8_t* bytes, std::size_t count) override {
        replies.insert(replies.end(), bytes, bytes + count);
    }
    void ShowProgress(const TTransferProgress& shown) override {
        progress = shown;
        ++shows;
    }
    void Alert() override { ++alerts; }
    void EndTransferMode() override { ++transferModeEnded; }
    void ArmTimer(int intervalMs) override { timer = intervalMs; }
    void DisableTimer() override { timer = 0; }
    // The replies since the last look.
    Bytes Take() {
        Bytes taken;
        taken.swap(replies);
        return taken;
    }

    Bytes replies;
    TTransferProgress progress;
    int shows = 0;
    int alerts = 0;
    int transferModeEnded = 0;
    int timer = 0;
};

inline Bytes Block(std::uint8_t header, std::uint8_t number, const Bytes& content,
                   bool onesComplement = false) {
    const std::size_t size = header == 0x01 ? 128 : header == 0x02 ? 1024 : 4096;
    Bytes data = content;
    data.resize(size, 0x1A);
    std::uint16_t crc = BlockCrc(data.data(), data.size());
    if (onesComplement) {
        crc = static_cast<std::uint16_t>(crc ^ 0xFFFF);
    }
    Bytes block;
    block.reserve(size + 5);
    block.push_back(header);
    block.push_back(number);
    block.push_back(static_cast<std::uint8_t>(number ^ 0xFF));
    for (std::uint8_t byte : data) {
        block.push_back(byte);
    }
    block.push_back(static_cast<std::uint8_t>(crc >> 8));
    block.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return block;
}

inline Bytes Text(const std::string& text) {
    return {text.begin(), text.end()};
}

} // namespace telvora::test
