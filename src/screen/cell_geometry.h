#pragma once

namespace telvora {

// The size one cell of the screen is drawn at, in pixels.
struct TCellSize {
    int width = 8;
    int height = 8;
};

inline constexpr int kGlyphPixels = 8;
// The Atari's own 40 columns, and an XEP80's 80. Wider than 40, cells are
// drawn narrower.
inline constexpr int kNarrowColumns = 40;
inline constexpr int kWideColumns = 80;

// A cell is 8 + fontDelta pixels high. In 40 columns it is as wide as high.
// In 80 columns it is about half as wide, as an XEP80's characters are, so
// that 80 columns fit where 40 did: the width is a whole multiple of the
// glyph's 8 pixels (every glyph pixel drawn equally wide) and never narrower
// than the glyph itself (no pixel column dropped).
constexpr TCellSize CellSizeFor(int columns, int fontDelta) {
    const int height = kGlyphPixels + fontDelta;
    if (columns <= kNarrowColumns) {
        return {height, height};
    }
    const int scale = (height + kGlyphPixels) / (2 * kGlyphPixels);
    return {kGlyphPixels * (scale < 1 ? 1 : scale), height};
}

// The font delta that shows a columns x rows screen at the largest
// whole-number scale of its glyphs that fits in the area; the smallest scale
// when none fits.
constexpr int FullScreenFontDelta(int columns, int rows, int areaWidth, int areaHeight,
                                  int maxFontDelta) {
    int best = 0;
    for (int delta = kGlyphPixels; delta <= maxFontDelta; delta += kGlyphPixels) {
        const TCellSize cell = CellSizeFor(columns, delta);
        if (cell.width * columns > areaWidth || cell.height * rows > areaHeight) {
            break;
        }
        best = delta;
    }
    return best;
}

} // namespace telvora
