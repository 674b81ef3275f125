#include "transfer/zmodem/zmodem_crc.h"

#include <array>

namespace telvora {

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrc16Table() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000u) != 0 ? (crc << 1) ^ 0x1021u : crc << 1;
        }
        table[i] = static_cast<std::uint16_t>(crc);
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> MakeCrc32Table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
        table[i] = crc;
    }
    return table;
}

// Tables because every byte of a transfer passes through a CRC.
constexpr auto kCrc16Table = MakeCrc16Table();
constexpr auto kCrc32Table = MakeCrc32Table();

} // namespace

std::uint16_t Crc16Update(std::uint16_t crc, std::uint8_t byte) {
    return static_cast<std::uint16_t>((crc << 8) ^ kCrc16Table[((crc >> 8) ^ byte) & 0xFFu]);
}

std::uint16_t Crc16(const std::uint8_t* data, std::size_t length) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        crc = Crc16Update(crc, data[i]);
    }
    return crc;
}

std::uint32_t Crc32Update(std::uint32_t crc, std::uint8_t byte) {
    return (crc >> 8) ^ kCrc32Table[(crc ^ byte) & 0xFFu];
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t length) {
    std::uint32_t crc = kCrc32Start;
    for (std::size_t i = 0; i < length; ++i) {
        crc = Crc32Update(crc, data[i]);
    }
    return ~crc;
}

} // namespace telvora
