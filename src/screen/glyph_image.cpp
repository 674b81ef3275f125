#include "screen/glyph_image.h"

#include "screen/glyph_table.h"

namespace telvora {

QImage GlyphImage(std::uint8_t code, QRgb ink, QRgb paper) {
    constexpr int kSize = 8;
    QImage image(kSize, kSize, qAlpha(paper) == 255 ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    const GlyphRows rows = AtasciiGlyph(code);
    for (int y = 0; y < kSize; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < kSize; ++x) {
            line[x] = (rows[static_cast<std::size_t>(y)] & (0x80 >> x)) ? ink : paper;
        }
    }
    return image;
}

} // namespace telvora
