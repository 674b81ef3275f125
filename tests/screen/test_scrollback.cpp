#include "screen/screen_model.h"
#include "screen/scrollback.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace telvora;

namespace {

std::string AsString(std::span<const std::uint8_t> row) {
    return {row.begin(), row.end()};
}

using StoreRow = std::array<std::uint8_t, kScrollbackColumns>;

// A row that tells which push it was.
StoreRow NumberedRow(std::size_t number) {
    StoreRow row;
    row.fill(kBlank);
    const std::string digits = std::to_string(number);
    std::copy(digits.begin(), digits.end(), row.begin());
    return row;
}

std::string NumberedText(std::size_t number) {
    return AsString(NumberedRow(number));
}

TEST(Scrollback, KeepsTheNewestRowsUpToItsLimitOldestFirst) {
    Scrollback history;
    EXPECT_EQ(history.Limit(), kScrollbackRows);
    EXPECT_EQ(history.Count(), 0u);
    EXPECT_EQ(history.MemoryBytes(), 0u) << "nothing reserved before the first row";

    const std::size_t pushed = kScrollbackRows + 2500;
    for (std::size_t n = 0; n < pushed; ++n) {
        history.Push(NumberedRow(n), kScrollbackColumns);
        ASSERT_EQ(history.Count(), std::min(n + 1, kScrollbackRows));
    }
    const std::size_t firstKept = pushed - kScrollbackRows;
    for (std::size_t i = 0; i < history.Count(); ++i) {
        ASSERT_EQ(AsString(history.Row(i)), NumberedText(firstKept + i)) << "index " << i;
    }
    EXPECT_LE(history.MemoryBytes(), 1'000'000u);
}

TEST(Scrollback, ARowKeepsItsOwnWidth) {
    Scrollback history(4);
    StoreRow wide;
    wide.fill(128 + 'W');
    history.Push(wide, 40);
    history.Push(wide, kScrollbackColumns + 20);
    EXPECT_EQ(history.Row(0).size(), 40u);
    EXPECT_EQ(history.Row(1).size(), kScrollbackColumns) << "no row is wider than the screen";
    EXPECT_EQ(history.Row(1).back(), 128 + 'W');
}

TEST(Scrollback, ClearForgetsEverythingAndStartsOver) {
    Scrollback history(3);
    for (std::size_t n = 0; n < 5; ++n) {
        history.Push(NumberedRow(n), kScrollbackColumns);
    }
    history.Clear();
    EXPECT_EQ(history.Count(), 0u);
    EXPECT_EQ(history.MemoryBytes(), 0u);
    for (std::size_t n = 10; n < 14; ++n) {
        history.Push(NumberedRow(n), kScrollbackColumns);
    }
    ASSERT_EQ(history.Count(), 3u);
    EXPECT_EQ(AsString(history.Row(0)), NumberedText(11));
    EXPECT_EQ(AsString(history.Row(2)), NumberedText(13));
}

TEST(Scrollback, ALimitOfZeroKeepsNothing) {
    Scrollback history(0);
    history.Push(NumberedRow(1), kScrollbackColumns);
    EXPECT_EQ(history.Count(), 0u);
    EXPECT_EQ(history.MemoryBytes(), 0u);
}

class ScreenScrollbackTest : public ::testing::Test {
protected:
    ScreenScrollbackTest() { model.SetColumns(40); }

    void Feed(const std::string& text) {
        for (char c : text) {
            model.WriteByte(static_cast<std::uint8_t>(c));
        }
    }
    void FeedLine(const std::string& text) {
        Feed(text);
        model.WriteByte(atascii::kEndOfLine);
    }
    // "LINE n" with n in inverse video, as a menu bar might show it.
    static std::string MarkedLine(int n) {
        std::string line = "LINE ";
        for (char digit : std::to_string(n)) {
            line += static_cast<char>(128 + digit);
        }
        return line;
    }
    static std::string Padded(const std::string& text, std::size_t columns = 40) {
        std::string row = text;
        row.resize(columns, static_cast<char>(kBlank));
        return row;
    }
    std::string HistoryRow(std::size_t index) const { return AsString(model.History().Row(index)); }

    ScreenModel model;
};

TEST_F(ScreenScrollbackTest, ScrolledRowsArriveInOrderWithTheirInverseCodes) {
    for (int n = 1; n <= 30; ++n) {
        FeedLine(MarkedLine(n));
    }
    // Lines 1..24 filled the screen; each line end after that scrolled one off.
    ASSERT_EQ(model.History().Count(), 7u);
    for (int n = 1; n <= 7; ++n) {
        EXPECT_EQ(HistoryRow(static_cast<std::size_t>(n - 1)), Padded(MarkedLine(n)));
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(model.RowData(1)), 40),
              Padded(MarkedLine(8)))
        << "the screen itself scrolls as before";
}

TEST_F(ScreenScrollbackTest, WrappingOffTheLastCellScrollsARowIntoHistory) {
    model.SetRows(25);
    for (int n = 1; n <= 25; ++n) {
        Feed(std::string(40, static_cast<char>('A' + n - 1)));
    }
    ASSERT_EQ(model.History().Count(), 1u);
    EXPECT_EQ(HistoryRow(0), std::string(40, 'A'));
}

TEST_F(ScreenScrollbackTest, RowsKeepOnlyTheColumnsShown) {
    model.SetColumns(80);
    Feed(std::string(60, ' ') + "HIDDEN LATER");
    model.SetColumns(40);
    model.SetRows(2);
    FeedLine("");
    FeedLine("");
    ASSERT_EQ(model.History().Count(), 1u);
    EXPECT_EQ(HistoryRow(0), Padded(std::string(40, ' ')));
}

TEST_F(ScreenScrollbackTest, ClearKeepsTheScreenDownToItsLastUsedRow) {
    FeedLine("first");
    FeedLine("");
    FeedLine(MarkedLine(3));
    model.WriteByte(atascii::kClearScreen);
    ASSERT_EQ(model.History().Count(), 3u);
    EXPECT_EQ(HistoryRow(0), Padded("first"));
    EXPECT_EQ(HistoryRow(1), Padded(""));
    EXPECT_EQ(HistoryRow(2), Padded(MarkedLine(3)));

    model.WriteByte(atascii::kClearScreen);
    model.ClearScreen();
    EXPECT_EQ(model.History().Count(), 3u) << "a blank screen adds nothing";

    Feed("again");
    model.ClearScreen();
    ASSERT_EQ(model.History().Count(), 4u);
    EXPECT_EQ(HistoryRow(3), Padded("again"));
}

TEST_F(ScreenScrollbackTest, AShownClearSymbolIsNotAClear) {
    model.SetEscapeShowsControls(true);
    Feed("text");
    Feed({atascii::kEscape, static_cast<char>(atascii::kClearScreen)});
    EXPECT_EQ(model.History().Count(), 0u);
    EXPECT_EQ(model.Cell(5, 1), atascii::kClearScreen);
}

TEST_F(ScreenScrollbackTest, HistoryIsTheSameWrittenByteByByteOrInBlocks) {
    std::mt19937 random(1234);
    // Mostly text and line ends, with the odd clear, so both paths scroll often.
    std::discrete_distribution<int> kind({70, 20, 2, 8});
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < 20000; ++i) {
        switch (kind(random)) {
        case 0:
            stream.push_back(static_cast<std::uint8_t>(33 + random() % 90));
            break;
        case 1:
            stream.push_back(atascii::kEndOfLine);
            break;
        case 2:
            stream.push_back(atascii::kClearScreen);
            break;
        default:
            stream.push_back(static_cast<std::uint8_t>(128 + 33 + random() % 90));
            break;
        }
    }
    ScreenModel blockwise;
    blockwise.SetColumns(40);
    for (std::uint8_t code : stream) {
        model.WriteByte(code);
    }
    blockwise.Write(stream.data(), stream.size());
    ASSERT_GT(model.History().Count(), 100u);
    ASSERT_EQ(blockwise.History().Count(), model.History().Count());
    for (std::size_t i = 0; i < model.History().Count(); ++i) {
        ASSERT_EQ(AsString(blockwise.History().Row(i)), HistoryRow(i)) << "row " << i;
    }
}

} // namespace
