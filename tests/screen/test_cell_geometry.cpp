#include "screen/cell_geometry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>

using namespace telvora;

namespace {

TEST(CellGeometry, FortyColumnsAreSquareAndEightyAreNarrowButNeverBelowTheGlyph) {
    for (int delta = 0; delta <= 255; ++delta) {
        const TCellSize square = CellSizeFor(40, delta);
        EXPECT_EQ(square.width, 8 + delta);
        EXPECT_EQ(square.height, 8 + delta);
        const TCellSize narrow = CellSizeFor(80, delta);
        EXPECT_EQ(narrow.height, 8 + delta);
        EXPECT_EQ(narrow.width % 8, 0) << delta;
        EXPECT_GE(narrow.width, 8) << delta;
        // About half as wide as high: no more than a glyph's width away.
        EXPECT_LE(std::abs(2 * narrow.width - narrow.height), 8 + 8) << delta;
    }
    EXPECT_EQ(CellSizeFor(80, 8).width, 8);
    EXPECT_EQ(CellSizeFor(80, 16).width, 16);
}

TEST(CellGeometry, FullScreenTakesTheLargestWholeScaleThatFits) {
    // 1920 x 1080: 40 columns at five times (1600 x 960; six times is too
    // tall), 80 columns in cells of 24 x 40 (1920 x 960).
    EXPECT_EQ(FullScreenFontDelta(40, 24, 1920, 1080, 255), 5 * 8 - 8);
    EXPECT_EQ(FullScreenFontDelta(80, 24, 1920, 1080, 255), 5 * 8 - 8);
    const TCellSize wide = CellSizeFor(80, 5 * 8 - 8);
    EXPECT_LE(wide.width * 80, 1920);
    EXPECT_LE(wide.height * 24, 1080);
    // One scale up no longer fits.
    for (int columns : {40, 80}) {
        for (const auto& [w, h] : {std::pair{800, 600}, {1366, 768}, {1920, 1080}, {3840, 2160}}) {
            const int delta = FullScreenFontDelta(columns, 24, w, h, 255);
            const TCellSize cell = CellSizeFor(columns, delta);
            EXPECT_LE(cell.width * columns, w);
            EXPECT_LE(cell.height * 24, h);
            const TCellSize next = CellSizeFor(columns, delta + 8);
            EXPECT_TRUE(next.width * columns > w || next.height * 24 > h) << w << "x" << h;
        }
    }
    // Too small for even the glyphs' own size: their own size all the same.
    EXPECT_EQ(FullScreenFontDelta(80, 24, 300, 100, 255), 0);
    // Never past the largest delta the screen takes.
    EXPECT_EQ(FullScreenFontDelta(40, 24, 100000, 100000, 255), 248);
}

} // namespace
