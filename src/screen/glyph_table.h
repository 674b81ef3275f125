#pragma once

#include <array>
#include <cstdint>

namespace telvora {

// One 8x8 glyph: eight rows from top to bottom; in each row bit 7 is the
// leftmost pixel. A set bit is ink (text colour), a clear bit is paper.
using GlyphRows = std::array<std::uint8_t, 8>;

// The picture of an ATASCII code. Codes 128..255 are the inverse video of
// 0..127 (every bit flipped), so 160, the inverse space, is a solid block.
GlyphRows AtasciiGlyph(std::uint8_t code);

} // namespace telvora
