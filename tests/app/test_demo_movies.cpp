// The demo movies shipped in MOVIES are played through the real screen model:
// each must draw what it is meant to and stay small enough for a slow line.

#include "screen/screen_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using telvora::ScreenModel;

constexpr int kColumns = 40;
constexpr int kRows = 24;

std::vector<std::uint8_t> ReadMovie(const char* name) {
    const std::string path = std::string(TELVORA_SOURCE_DIR) + "/MOVIES/" + name;
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file.good()) << "missing movie " << path;
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct Played {
    ScreenModel screen;
    int scrolls = 0;
};

void Play(Played& p, const std::vector<std::uint8_t>& bytes) {
    p.screen.SetColumns(kColumns);
    p.screen.SetRows(kRows);
    for (auto b : bytes) {
        p.screen.WriteByte(b);
        p.scrolls += p.screen.TakeDamage().scrolls;
    }
}

std::string RowText(const ScreenModel& s, int row, bool inverse) {
    std::string text;
    for (int c = 1; c <= kColumns; ++c) {
        const auto code = s.Cell(c, row);
        const bool isInverse = code >= 128;
        text += isInverse == inverse ? static_cast<char>(code & 0x7F) : ' ';
    }
    return text;
}

bool ScreenHas(const ScreenModel& s, std::uint8_t code) {
    for (int r = 1; r <= kRows; ++r) {
        for (int c = 1; c <= kColumns; ++c) {
            if (s.Cell(c, r) == code) {
                return true;
            }
        }
    }
    return false;
}

bool Uses(const std::vector<std::uint8_t>& bytes, std::uint8_t code) {
    return std::find(bytes.begin(), bytes.end(), code) != bytes.end();
}

TEST(DemoMovies, WelcomeDrawsAClosedFrameWithInverseTitleAndSuits) {
    const auto bytes = ReadMovie("WELCOME.ATA");
    ASSERT_FALSE(bytes.empty());
    EXPECT_LT(bytes.size(), 2048u);
    EXPECT_EQ(bytes.front(), 125) << "starts from a clear screen";
    EXPECT_EQ(bytes.back(), 155) << "ends with a line break";
    Played p;
    Play(p, bytes);
    const auto& s = p.screen;
    EXPECT_EQ(p.scrolls, 0) << "the picture must not scroll away";
    // Find the frame's bottom row: the corners close the box on both sides.
    int bottom = 0;
    for (int r = 2; r <= kRows; ++r) {
        if (s.Cell(1, r) == 26) {
            bottom = r;
            break;
        }
    }
    ASSERT_GT(bottom, 2) << "no bottom-left corner";
    EXPECT_EQ(s.Cell(1, 1), 17);
    EXPECT_EQ(s.Cell(kColumns, 1), 5);
    EXPECT_EQ(s.Cell(kColumns, bottom), 3);
    for (int c = 2; c < kColumns; ++c) {
        EXPECT_EQ(s.Cell(c, 1), 18) << "top edge, column " << c;
        EXPECT_EQ(s.Cell(c, bottom), 18) << "bottom edge, column " << c;
    }
    for (int r = 2; r < bottom; ++r) {
        const auto left = s.Cell(1, r);
        const auto right = s.Cell(kColumns, r);
        EXPECT_TRUE((left == 124 && right == 124) || (left == 1 && right == 4))
            << "the frame is open on row " << r;
    }
    bool titled = false;
    for (int r = 1; r <= bottom; ++r) {
        titled = titled || RowText(s, r, true).find("T E L V O R A") != std::string::npos;
    }
    EXPECT_TRUE(titled) << "the name in inverse video is missing";
    for (std::uint8_t suit : {0, 16, 96, 123}) {
        EXPECT_TRUE(ScreenHas(s, suit)) << "suit " << int(suit);
    }
    EXPECT_TRUE(ScreenHas(s, 27)) << "the Escape glyph is missing";
    EXPECT_FALSE(s.EscapePending());
    EXPECT_EQ(s.CursorX(), 1);
    EXPECT_EQ(s.CursorY(), bottom + 2);
}

TEST(DemoMovies, AnimationUsesTheEditingCodesAndEndsCleanly) {
    const auto bytes = ReadMovie("ANIMATION.ATA");
    ASSERT_FALSE(bytes.empty());
    EXPECT_LT(bytes.size(), 8u * 1024u);
    for (std::uint8_t c : {28, 29, 30, 31, 125, 126, 127, 156, 157, 254, 255}) {
        EXPECT_TRUE(Uses(bytes, c)) << "code " << int(c) << " is not demonstrated";
    }
    EXPECT_FALSE(Uses(bytes, 253)) << "the buzzer has no place in a silent demo";
    Played p;
    Play(p, bytes);
    EXPECT_EQ(p.scrolls, 0) << "cursor games must not scroll the screen";
    EXPECT_NE(RowText(p.screen, 1, true).find("THE END"), std::string::npos);
    for (int r = 2; r <= kRows; ++r) {
        EXPECT_EQ(RowText(p.screen, r, false), std::string(kColumns, ' ')) << "row " << r;
    }
}

TEST(DemoMovies, ScrollerScrollsThroughHundredsOfLines) {
    const auto bytes = ReadMovie("SCROLLER.ATA");
    ASSERT_FALSE(bytes.empty());
    EXPECT_LT(bytes.size(), 20u * 1024u);
    Played p;
    Play(p, bytes);
    EXPECT_GE(p.scrolls, 300);
    bool ended = false;
    for (int r = 1; r <= kRows; ++r) {
        ended = ended || RowText(p.screen, r, true).find("THE END") != std::string::npos;
    }
    EXPECT_TRUE(ended) << "the closing title did not stay on screen";
}

} // namespace
