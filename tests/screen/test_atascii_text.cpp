#include "screen/atascii_text.h"
#include "screen/screen_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

using namespace telvora;

namespace {

std::string Text(std::initializer_list<int> codes) {
    std::vector<std::uint8_t> bytes(codes.begin(), codes.end());
    return AtasciiToUtf8(bytes.data(), bytes.size());
}

std::vector<std::uint8_t> Codes(std::initializer_list<int> codes) {
    return {codes.begin(), codes.end()};
}

std::string Row(const std::string& text, std::size_t columns) {
    std::string row = text;
    row.resize(columns, static_cast<char>(kBlank));
    return row;
}

std::span<const std::uint8_t> Span(const std::string& row) {
    return {reinterpret_cast<const std::uint8_t*>(row.data()), row.size()};
}

TEST(AtasciiToText, EveryCodeComesBackAsItsPlainCode) {
    std::set<std::string> seen;
    for (int code = 0; code < 256; ++code) {
        const std::string text = Text({code});
        ASSERT_FALSE(text.empty()) << "code " << code;
        const TextAsAtascii back = TextToAtascii(text);
        EXPECT_EQ(back.codes, Codes({code & 0x7F})) << "code " << code << " text " << text;
        EXPECT_EQ(back.skipped, 0u) << "code " << code;
        if (code < 128) {
            seen.insert(text);
        }
    }
    EXPECT_EQ(seen.size(), 128u) << "two codes share a character";
}

TEST(AtasciiToText, GlyphsWithAnObviousEquivalent) {
    EXPECT_EQ(Text({0, 16, 96, 123}), "♥♣♦♠");
    EXPECT_EQ(Text({28, 29, 30, 31}), "↑↓←→");
    EXPECT_EQ(Text({17, 18, 5, 1, 19, 4, 26, 24, 3}), "┏━┓┣╋┫┗┻┛");
    EXPECT_EQ(Text({126, 127, 124, 64, 92, 95}), "◀▶|@\\_");
    EXPECT_EQ(Text({'H', 'i', ' ', '4', '2', '!'}), "Hi 42!");
}

TEST(AtasciiToText, InverseVideoIsShownAsPlain) {
    EXPECT_EQ(Text({128 + 'A', 128 + 0, 160, 128 + 127}), "A♥ ▶");
    // 155, End Of Line, shows up in a row only as the glyph of inverse Escape.
    EXPECT_EQ(Text({atascii::kEndOfLine}), Text({atascii::kEscape}));
}

TEST(TextToAtascii, EveryKindOfLineEndIsOneEndOfLine) {
    EXPECT_EQ(TextToAtascii("A\nB").codes, Codes({'A', 155, 'B'}));
    EXPECT_EQ(TextToAtascii("A\r\nB").codes, Codes({'A', 155, 'B'}));
    EXPECT_EQ(TextToAtascii("A\rB").codes, Codes({'A', 155, 'B'}));
    EXPECT_EQ(TextToAtascii("\n\r").codes, Codes({155, 155}));
    EXPECT_EQ(TextToAtascii("\r\n\r\n\n\r").codes, Codes({155, 155, 155, 155}));
    EXPECT_EQ(TextToAtascii("end\r").codes, Codes({'e', 'n', 'd', 155}));
    EXPECT_EQ(TextToAtascii("A\r\nB").skipped, 0u);
}

TEST(TextToAtascii, TabsAndTheTabSymbolBothBecomeTab) {
    EXPECT_EQ(TextToAtascii("\tA\t").codes, Codes({127, 'A', 127}));
    EXPECT_EQ(TextToAtascii("▶").codes, Codes({127}));
}

TEST(TextToAtascii, CharactersWithoutACodeAreSkippedAndCounted) {
    const TextAsAtascii result = TextToAtascii("a~b`c{d}e€f😀g");
    EXPECT_EQ(result.codes, Codes({'a', 'b', 'c', 'd', 'e', 'f', 'g'}));
    EXPECT_EQ(result.skipped, 6u);
    EXPECT_EQ(TextToAtascii(std::string_view("x\0y\x1b", 4)).skipped, 2u)
        << "control characters other than line ends and tabs have no code";
}

TEST(TextToAtascii, InvalidUtf8IsSkippedAndCounted) {
    // Each piece counts as one, as many as a decoder would show U+FFFD for.
    struct Case {
        std::string text;
        std::vector<std::uint8_t> codes;
        std::size_t skipped;
        const char* what;
    };
    const Case cases[] = {
        {"A\x80Z", Codes({'A', 'Z'}), 1, "lone continuation byte"},
        {"A\xC0\xAFZ", Codes({'A', 'Z'}), 2, "overlong slash"},
        {"A\xE0\x80\xAFZ", Codes({'A', 'Z'}), 3, "overlong three-byte form"},
        {"A\xED\xA0\x80Z", Codes({'A', 'Z'}), 3, "encoded surrogate"},
        {"A\xF4\x90\x80\x80Z", Codes({'A', 'Z'}), 4, "past U+10FFFF"},
        {"A\xF5\xFF\xFEZ", Codes({'A', 'Z'}), 3, "bytes that never start a character"},
        {"A\xE2\x99Z", Codes({'A', 'Z'}), 1, "sequence broken off by a plain character"},
        {"A\xF0\x9F\x98", Codes({'A'}), 1, "sequence cut off at the end"},
        {"A\xE2\x99\xE2\x99\xA5Z", Codes({'A', 0, 'Z'}), 1, "broken sequence before a whole heart"},
    };
    for (const Case& c : cases) {
        const TextAsAtascii result = TextToAtascii(c.text);
        EXPECT_EQ(result.codes, c.codes) << c.what;
        EXPECT_EQ(result.skipped, c.skipped) << c.what;
    }
}

TEST(RowsToUtf8, DropsTrailingBlanksAndEndsEveryRow) {
    const std::string first = Row("READY", 40);
    std::string second = Row(std::string("\x80\x01", 2), 40); // inverse heart, box tee
    second[10] = static_cast<char>(128 + 'X');
    second[38] = static_cast<char>(atascii::kSolidBlock); // an inverse blank, trimmed too
    const std::string blank = Row("", 40);
    const std::string inner = Row("  a  b", 80);
    const std::vector<std::span<const std::uint8_t>> rows = {Span(first), Span(second), Span(blank),
                                                             Span(inner)};
    EXPECT_EQ(RowsToUtf8(rows), "READY\n♥┣" + std::string(8, ' ') + "X\n\n  a  b\n");
    EXPECT_EQ(RowsToUtf8({}), "");
}

TEST(RowsToUtf8, ScreenGivesItsVisibleRowsAndColumns) {
    ScreenModel model;
    model.SetColumns(40);
    model.SetRows(3);
    const std::string shown = "Welcome \x7b\x60";
    model.Write(reinterpret_cast<const std::uint8_t*>(shown.data()), shown.size());
    model.WriteByte(atascii::kEndOfLine);
    model.WriteByte(128 + 'O');
    model.WriteByte(128 + 'K');
    EXPECT_EQ(ScreenToUtf8(model), "Welcome ♠♦\nOK\n\n");
}

} // namespace
