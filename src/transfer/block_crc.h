#pragma once

#include <cstddef>
#include <cstdint>

namespace telvora {

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, most significant bit
// first, no reflection, no final XOR; "123456789" gives 0x31C3. Bit by bit,
// without a table: one block's worth is computed once per block.
std::uint16_t BlockCrc(const std::uint8_t* data, std::size_t length);

} // namespace telvora
