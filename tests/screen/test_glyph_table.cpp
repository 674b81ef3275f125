#include "screen/glyph_table.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <set>
#include <string>

namespace {

using telvora::AtasciiGlyph;
using telvora::GlyphRows;

constexpr std::uint8_t kFull = 0xFF;
constexpr std::uint8_t kRightColumn = 0x01;
constexpr std::uint8_t kLeftColumn = 0x80;
constexpr std::uint8_t kCentreColumns = 0x18; // columns 3 and 4
constexpr int kCentreRowA = 3;
constexpr int kCentreRowB = 4;
constexpr int kTopRow = 0;
constexpr int kBottomRow = 7;

GlyphRows Glyph(int code) {
    return AtasciiGlyph(static_cast<std::uint8_t>(code));
}

bool IsEmpty(const GlyphRows& rows) {
    for (auto r : rows) {
        if (r != 0) {
            return false;
        }
    }
    return true;
}

bool InkAt(const GlyphRows& rows, int x, int y) {
    return (rows[static_cast<std::size_t>(y)] >> (7 - x)) & 1;
}

std::string Describe(int code) {
    std::string text = "code " + std::to_string(code) + "\n";
    for (auto r : Glyph(code)) {
        for (int bit = 7; bit >= 0; --bit) {
            text += ((r >> bit) & 1) ? '#' : '.';
        }
        text += '\n';
    }
    return text;
}

bool IsDescender(int code) {
    return code == 'g' || code == 'j' || code == 'p' || code == 'q' || code == 'y';
}

bool IsLetterOrDigit(int code) {
    return (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z') ||
           (code >= 'a' && code <= 'z');
}

TEST(GlyphTable, UpperHalfIsInverseOfLowerHalf) {
    for (int code = 0; code < 128; ++code) {
        const auto normal = Glyph(code);
        const auto inverse = Glyph(code + 128);
        for (std::size_t row = 0; row < 8; ++row) {
            EXPECT_EQ(inverse[row], static_cast<std::uint8_t>(~normal[row]))
                << "code " << code << " row " << row;
        }
    }
}

TEST(GlyphTable, SpaceIsBlankAndInverseSpaceIsSolid) {
    EXPECT_TRUE(IsEmpty(Glyph(32)));
    for (auto r : Glyph(160)) {
        EXPECT_EQ(r, kFull);
    }
}

TEST(GlyphTable, DrawnGlyphsAreAllDifferentAndPrintablesHaveInk) {
    std::set<GlyphRows> seen;
    for (int code = 0; code < 128; ++code) {
        EXPECT_TRUE(seen.insert(Glyph(code)).second) << "duplicate picture\n" << Describe(code);
    }
    for (int code = 33; code <= 126; ++code) {
        EXPECT_FALSE(IsEmpty(Glyph(code))) << "no ink in code " << code;
    }
}

TEST(GlyphTable, LettersAndDigitsLeaveTheCellBorderFreeButForDescenders) {
    for (int code = 0; code < 128; ++code) {
        if (!IsLetterOrDigit(code)) {
            continue;
        }
        const auto rows = Glyph(code);
        EXPECT_EQ(rows[kTopRow], 0) << "top row inked\n" << Describe(code);
        for (auto r : rows) {
            EXPECT_EQ(r & kRightColumn, 0) << "right column inked\n" << Describe(code);
            EXPECT_EQ(r & kLeftColumn, 0) << "left column inked\n" << Describe(code);
        }
        if (IsDescender(code)) {
            EXPECT_NE(rows[kBottomRow], 0) << "descender missing\n" << Describe(code);
        } else {
            EXPECT_EQ(rows[kBottomRow], 0) << "bottom row inked\n" << Describe(code);
        }
    }
}

// Capitals, digits and punctuation keep to rows 1..6 and columns 1..6; small
// letters keep to columns 1..6 and leave row 0 free, only descenders reaching
// into row 7.
TEST(GlyphTable, TextKeepsItsBorderRowsAndColumnsBlank) {
    for (int code = 0; code < 128; ++code) {
        const bool capitalOrDigit = (code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9');
        const bool punctuation =
            (code >= 33 && code <= 47) || (code >= 58 && code <= 64) || (code >= 91 && code <= 94);
        const bool small = code >= 'a' && code <= 'z';
        if (!capitalOrDigit && !punctuation && !small) {
            continue;
        }
        const auto rows = Glyph(code);
        EXPECT_EQ(rows[kTopRow], 0) << "row 0 inked\n" << Describe(code);
        if (!small) {
            EXPECT_EQ(rows[kBottomRow], 0) << "row 7 inked\n" << Describe(code);
        }
        for (auto r : rows) {
            EXPECT_EQ(r & kLeftColumn, 0) << "column 0 inked\n" << Describe(code);
            EXPECT_EQ(r & kRightColumn, 0) << "column 7 inked\n" << Describe(code);
        }
    }
}

// The Escape symbol is a bent arrow of its own, not the clear-screen arrow.
TEST(GlyphTable, EscapeIsASymbolUnlikeClearScreen) {
    const auto escape = Glyph(27);
    EXPECT_FALSE(IsEmpty(escape));
    EXPECT_NE(escape, Glyph(125));
    // Its stem comes down on the right and its head points left.
    EXPECT_TRUE(InkAt(escape, 5, 1) && InkAt(escape, 6, 1));
    EXPECT_TRUE(InkAt(escape, 0, 4));
    EXPECT_FALSE(InkAt(escape, 0, 1));
}

// Box drawing joins across cells: a line that leaves a cell at an edge does so
// on the same two centre rows or columns that the neighbour enters on.
TEST(GlyphTable, BoxDrawingLinesReachTheEdgesTheyPointTo) {
    struct Box {
        int code;
        bool up, down, left, right;
    };
    const Box boxes[] = {
        {1, true, true, false, true},    {3, true, false, true, false},
        {4, true, true, true, false},    {5, false, true, true, false},
        {17, false, true, false, true},  {18, false, false, true, true},
        {19, true, true, true, true},    {23, false, true, true, true},
        {24, true, false, true, true},   {26, true, false, false, true},
        {124, true, true, false, false},
    };
    for (const Box& box : boxes) {
        const auto rows = Glyph(box.code);
        const std::string picture = Describe(box.code);
        EXPECT_EQ(InkAt(rows, 3, 0) && InkAt(rows, 4, 0), box.up) << picture;
        EXPECT_EQ(InkAt(rows, 3, 7) && InkAt(rows, 4, 7), box.down) << picture;
        EXPECT_EQ(InkAt(rows, 0, kCentreRowA) && InkAt(rows, 0, kCentreRowB), box.left) << picture;
        EXPECT_EQ(InkAt(rows, 7, kCentreRowA) && InkAt(rows, 7, kCentreRowB), box.right) << picture;
        // The lines meet in the centre.
        EXPECT_EQ(rows[kCentreRowA] & kCentreColumns, kCentreColumns) << picture;
        EXPECT_EQ(rows[kCentreRowB] & kCentreColumns, kCentreColumns) << picture;
    }
    EXPECT_EQ(Glyph(18)[kCentreRowA], kFull);
    EXPECT_EQ(Glyph(18)[kCentreRowB], kFull);
    for (auto r : Glyph(124)) {
        EXPECT_EQ(r, kCentreColumns) << "the full-height bar has a gap";
    }
}

TEST(GlyphTable, EdgeBarsBandsAndHalvesFillTheirPartOfTheCell) {
    for (int row = 0; row < 8; ++row) {
        const auto y = static_cast<std::size_t>(row);
        EXPECT_EQ(Glyph(2)[y], 0x03);
        EXPECT_EQ(Glyph(22)[y], 0xC0);
        EXPECT_EQ(Glyph(25)[y], 0xF0);
        EXPECT_EQ(Glyph(21)[y], row >= 4 ? kFull : 0);
        EXPECT_EQ(Glyph(13)[y], row < 2 ? kFull : 0);
        EXPECT_EQ(Glyph(14)[y], row >= 6 ? kFull : 0);
        EXPECT_EQ(Glyph(12)[y], row < 4 ? 0xF0 : 0);
        EXPECT_EQ(Glyph(11)[y], row < 4 ? 0x0F : 0);
        EXPECT_EQ(Glyph(15)[y], row >= 4 ? 0xF0 : 0);
        EXPECT_EQ(Glyph(9)[y], row >= 4 ? 0x0F : 0);
    }
}

TEST(GlyphTable, TrianglesAndArrowsPointTheRightWay) {
    // 126 points left: its widest rows reach the left edge, its tip rows do not.
    EXPECT_TRUE(InkAt(Glyph(126), 0, kCentreRowA));
    EXPECT_FALSE(InkAt(Glyph(126), 0, 0));
    EXPECT_TRUE(InkAt(Glyph(126), 7, 0));
    EXPECT_TRUE(InkAt(Glyph(127), 7, kCentreRowA));
    EXPECT_FALSE(InkAt(Glyph(127), 7, 0));
    EXPECT_TRUE(InkAt(Glyph(127), 0, 0));
    // The diagonal triangles fill the bottom row and one top corner only.
    EXPECT_EQ(Glyph(8)[kBottomRow], kFull);
    EXPECT_TRUE(InkAt(Glyph(8), 7, 0));
    EXPECT_FALSE(InkAt(Glyph(8), 0, 0));
    EXPECT_EQ(Glyph(10)[kBottomRow], kFull);
    EXPECT_TRUE(InkAt(Glyph(10), 0, 0));
    EXPECT_FALSE(InkAt(Glyph(10), 7, 0));
    // Arrows: the head row is wider than the shaft at the end it points to.
    EXPECT_GT(std::popcount(Glyph(28)[2]), std::popcount(Glyph(28)[6]));
    EXPECT_GT(std::popcount(Glyph(29)[5]), std::popcount(Glyph(29)[1]));
    EXPECT_TRUE(InkAt(Glyph(30), 1, 2) && !InkAt(Glyph(30), 6, 2));
    EXPECT_TRUE(InkAt(Glyph(31), 6, 2) && !InkAt(Glyph(31), 1, 2));
}

} // namespace
