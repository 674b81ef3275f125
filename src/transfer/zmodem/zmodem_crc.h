#pragma once

#include <cstddef>
#include <cstdint>

namespace telvora {

// CRC-16/XMODEM (polynomial 0x1021, initial 0, no reflection), one byte at a
// time: ZMODEM runs it over a subpacket's data and then its end byte.
std::uint16_t Crc16Update(std::uint16_t crc, std::uint8_t byte);
std::uint16_t Crc16(const std::uint8_t* data, std::size_t length);

// CRC-32 as ZMODEM and zip use it: reflected polynomial 0xEDB88320, started
// at 0xFFFFFFFF and inverted at the end, sent least significant byte first.
// "123456789" gives 0xCBF43926.
constexpr std::uint32_t kCrc32Start = 0xFFFFFFFFu;
std::uint32_t Crc32Update(std::uint32_t crc, std::uint8_t byte);
// The same as Crc32Update for each byte, eight bytes a step: every byte of
// a streamed file passes through it.
std::uint32_t Crc32Run(std::uint32_t crc, const std::uint8_t* data, std::size_t length);
std::uint32_t Crc32(const std::uint8_t* data, std::size_t length);

} // namespace telvora
