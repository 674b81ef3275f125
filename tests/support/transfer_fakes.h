#pragma once

// What the block receiver's and the block sender's tests share: a fake line
// with a manual timer, and the blocks and control bytes of wire_block.h.

#include "wire_block.h"

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

inline Bytes Text(const std::string& text) {
    return {text.begin(), text.end()};
}

} // namespace telvora::test
