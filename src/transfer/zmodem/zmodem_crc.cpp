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

// Eight tables: table k gives the CRC of a byte followed by k zero bytes, so
// eight bytes combine in one step ("slicing by eight").
constexpr std::array<std::array<std::uint32_t, 256>, 8> MakeCrc32Slices() {
    std::array<std::array<std::uint32_t, 256>, 8> slices{};
    slices[0] = MakeCrc32Table();
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::size_t i = 0; i < 256; ++i) {
            const std::uint32_t previous = slices[k - 1][i];
            slices[k][i] = (previous >> 8) ^ slices[0][previous & 0xFFu];
        }
    }
    return slices;
}

// Tables because every byte of a transfer passes through a CRC.
constexpr auto kCrc16Table = MakeCrc16Table();
constexpr auto kCrc32Slices = MakeCrc32Slices();
constexpr const auto& kCrc32Table = kCrc32Slices[0];

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

std::uint32_t Crc32Run(std::uint32_t crc, const std::uint8_t* data, std::size_t length) {
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        const std::uint32_t low = crc ^ (static_cast<std::uint32_t>(data[i]) |
                                         static_cast<std::uint32_t>(data[i + 1]) << 8 |
                                         static_cast<std::uint32_t>(data[i + 2]) << 16 |
                                         static_cast<std::uint32_t>(data[i + 3]) << 24);
        crc = kCrc32Slices[7][low & 0xFFu] ^ kCrc32Slices[6][(low >> 8) & 0xFFu] ^
              kCrc32Slices[5][(low >> 16) & 0xFFu] ^ kCrc32Slices[4][low >> 24] ^
              kCrc32Slices[3][data[i + 4]] ^ kCrc32Slices[2][data[i + 5]] ^
              kCrc32Slices[1][data[i + 6]] ^ kCrc32Slices[0][data[i + 7]];
    }
    for (; i < length; ++i) {
        crc = Crc32Update(crc, data[i]);
    }
    return crc;
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t length) {
    return ~Crc32Run(kCrc32Start, data, length);
}

} // namespace telvora
