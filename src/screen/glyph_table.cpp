#include "screen/glyph_table.h"

namespace telvora {

GlyphRows AtasciiGlyph(std::uint8_t code) {
    GlyphRows rows{};
    if (code >= 128) {
        for (auto& r : rows) {
            r = 0xFF;
        }
    }
    return rows;
}

} // namespace telvora
