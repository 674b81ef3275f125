#pragma once

#include <QImage>
#include <QRgb>

#include <cstdint>

namespace telvora {

// The 8x8 picture of one ATASCII code from the built-in glyph table: ink where
// the glyph has a pixel, paper elsewhere (a paper with alpha 0 leaves what is
// under it when drawn).
QImage GlyphImage(std::uint8_t code, QRgb ink, QRgb paper);

} // namespace telvora
