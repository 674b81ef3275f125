#pragma once

// X-Modem family blocks as a sender of our own puts them on the wire, for
// the tests that play the sender or check what ours sends, and the control
// bytes by their names.

#include "transfer/block_codes.h"
#include "transfer/block_crc.h"

#include <cstdint>
#include <string>
#include <vector>

namespace telvora::test {

constexpr std::uint8_t kSoh = TBlockCodes::kSoh;
constexpr std::uint8_t kStx = TBlockCodes::kStx;
constexpr std::uint8_t kEot = TBlockCodes::kEot;
constexpr std::uint8_t kAck = TBlockCodes::kAck;
constexpr std::uint8_t kNak = TBlockCodes::kNak;
constexpr std::uint8_t kCan = TBlockCodes::kCan;
constexpr std::uint8_t kC = TBlockCodes::kCrcRequest;

// A block as a sender puts it on the wire: the content filled with 0x1A to
// the header's size, the CRC (or its ones' complement) after it.
inline std::vector<std::uint8_t> Block(std::uint8_t header, std::uint8_t number,
                                       const std::vector<std::uint8_t>& content,
                                       bool onesComplement = false) {
    const std::size_t size = header == kSoh ? 128 : header == kStx ? 1024 : 4096;
    std::vector<std::uint8_t> data = content;
    data.resize(size, 0x1A);
    std::uint16_t crc = BlockCrc(data.data(), data.size());
    if (onesComplement) {
        crc = static_cast<std::uint16_t>(crc ^ 0xFFFF);
    }
    std::vector<std::uint8_t> block;
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

// A batch header: the name, a NUL, then what a sender adds after it (the
// length, the time, the mode), in a short block filled with NULs.
inline std::vector<std::uint8_t> BatchHeader(const std::string& name,
                                             const std::string& extra = "") {
    std::vector<std::uint8_t> data(name.begin(), name.end());
    data.push_back(0);
    data.insert(data.end(), extra.begin(), extra.end());
    data.resize(128, 0);
    return Block(kSoh, 0, data);
}

} // namespace telvora::test
