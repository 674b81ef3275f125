#pragma once

#include <cstdint>
#include <vector>

namespace telvora {

// The control bytes of the X-Modem family, as both sides of a transfer use them.
struct TBlockCodes {
    static constexpr std::uint8_t kSoh = 0x01;     // a block of 128 data bytes
    static constexpr std::uint8_t kStx = 0x02;     // a block of 1024
    static constexpr std::uint8_t kHeader4k = 'F'; // a block of 4096 (F-Modem)
    static constexpr std::uint8_t kEot = 0x04;
    static constexpr std::uint8_t kAck = 0x06;
    static constexpr std::uint8_t kNak = 0x15;
    static constexpr std::uint8_t kCan = 0x18;
    static constexpr std::uint8_t kCrcRequest = 'C';
    // Asks a Y-Modem batch sender to stream its blocks without waiting for ACKs.
    static constexpr std::uint8_t kStreamRequest = 'G';
    // What either side sends to end a transfer at once.
    inline static const std::vector<std::uint8_t> kCancel = {kCan, kCan, kCan};
};

} // namespace telvora
