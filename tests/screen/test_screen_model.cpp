#include "screen/screen_model.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <vector>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

using namespace telvora;

namespace {

class ScreenModelTest : public ::testing::Test {
protected:
    ScreenModelTest() { model.SetColumns(40); }

    void Feed(std::initializer_list<int> codes) {
        for (int code : codes) {
            model.WriteByte(static_cast<std::uint8_t>(code));
        }
    }
    void Feed(const std::string& text) {
        for (char c : text) {
            model.WriteByte(static_cast<std::uint8_t>(c));
        }
    }
    // Moves the cursor to (x, y) with cursor-control codes only.
    void GoTo(int x, int y) {
        while (model.CursorY() != y) {
            Feed({atascii::kCursorDown});
        }
        while (model.CursorX() != x) {
            Feed({atascii::kCursorRight});
        }
    }
    void ExpectCursor(int x, int y) {
        EXPECT_EQ(model.CursorX(), x);
        EXPECT_EQ(model.CursorY(), y);
    }
    std::string RowText(int row, int first = 1, int last = 40) {
        std::string text;
        for (int c = first; c <= last; ++c) {
            text += static_cast<char>(model.Cell(c, row));
        }
        return text;
    }
    void FillRows() {
        for (int row = 1; row <= 24; ++row) {
            GoToRowStart(row);
            Feed(std::string(1, static_cast<char>('A' + row - 1)));
        }
    }
    void GoToRowStart(int row) { GoTo(1, row); }

    ScreenModel model;
};

TEST_F(ScreenModelTest, StartsBlankWithCursorHome) {
    ExpectCursor(1, 1);
    for (int row = 1; row <= kStoreRows; ++row) {
        for (int col = 1; col <= kStoreColumns; ++col) {
            ASSERT_EQ(model.Cell(col, row), kBlank);
        }
    }
}

TEST_F(ScreenModelTest, WritingTheLastColumnWrapsAtOnce) {
    GoTo(40, 10);
    Feed("X");
    EXPECT_EQ(model.Cell(40, 10), 'X');
    ExpectCursor(1, 11);
    EXPECT_EQ(model.Damage().scrolls, 0);
}

TEST_F(ScreenModelTest, WritingTheLastCellScrollsAtOnce) {
    Feed("TOP");
    GoToRowStart(2);
    Feed("SECOND");
    GoToRowStart(24);
    Feed(std::string(39, 'b') + "Z");
    ExpectCursor(1, 24);
    EXPECT_EQ(RowText(1, 1, 6), "SECOND");
    EXPECT_EQ(RowText(23), std::string(39, 'b') + "Z");
    EXPECT_EQ(RowText(24), std::string(40, ' '));
    EXPECT_EQ(model.Damage().scrolls, 1);
}

TEST_F(ScreenModelTest, EndOfLineMovesDownAndScrollsOnlyAtTheBottom) {
    GoTo(7, 5);
    Feed({atascii::kEndOfLine});
    ExpectCursor(1, 6);
    EXPECT_EQ(model.Damage().scrolls, 0);
    for (int row = 1; row <= 24; ++row) {
        EXPECT_EQ(RowText(row), std::string(40, ' '));
    }
    FillRows();
    GoToRowStart(24);
    Feed({atascii::kEndOfLine});
    ExpectCursor(1, 24);
    EXPECT_EQ(model.Cell(1, 1), 'B');
    EXPECT_EQ(model.Cell(1, 23), 'X');
    EXPECT_EQ(model.Cell(1, 24), kBlank);
}

TEST_F(ScreenModelTest, CursorMovesWrapWithoutScrolling) {
    GoTo(5, 24);
    Feed({atascii::kCursorDown});
    ExpectCursor(5, 1);
    Feed({atascii::kCursorUp});
    ExpectCursor(5, 24);
    GoTo(1, 3);
    Feed({atascii::kCursorLeft});
    ExpectCursor(40, 3);
    Feed({atascii::kCursorRight});
    ExpectCursor(1, 3);
    EXPECT_EQ(model.Damage().scrolls, 0);
}

TEST_F(ScreenModelTest, BackspaceErasesLeftButNeverLeavesTheRow) {
    GoTo(1, 2);
    Feed("ABCD");
    Feed({atascii::kBackspace});
    ExpectCursor(4, 2);
    EXPECT_EQ(RowText(2, 1, 4), "ABC ");
    GoTo(1, 3);
    Feed({atascii::kBackspace});
    ExpectCursor(1, 3);
}

TEST_F(ScreenModelTest, TabStopsAreFixedEveryEightColumns) {
    const std::vector<std::pair<int, int>> moves = {
        {1, 8}, {7, 8}, {8, 16}, {15, 16}, {16, 24}, {24, 32}, {32, 40}, {39, 40}, {40, 40}};
    for (auto [from, to] : moves) {
        GoTo(from, 4);
        Feed({atascii::kTab});
        EXPECT_EQ(model.CursorX(), to) << "from column " << from;
        EXPECT_EQ(model.CursorY(), 4);
    }
    // Setting and clearing tab stops changes nothing.
    GoTo(3, 4);
    Feed({atascii::kSetTabStop, atascii::kClearTabStop, atascii::kTab});
    ExpectCursor(8, 4);
}

TEST_F(ScreenModelTest, TabStopsReachTheLastColumnOfAWideGrid) {
    model.SetColumns(80);
    const std::vector<std::pair<int, int>> moves = {{1, 8},   {39, 40}, {40, 48}, {41, 48},
                                                    {72, 80}, {79, 80}, {80, 80}};
    for (auto [from, to] : moves) {
        GoTo(from, 2);
        Feed({atascii::kTab});
        EXPECT_EQ(model.CursorX(), to) << "from column " << from;
    }
    // Between 40 and 80 the grid's last column is the last stop.
    model.SetColumns(60);
    GoTo(57, 3);
    Feed({atascii::kTab});
    ExpectCursor(60, 3);
}

TEST_F(ScreenModelTest, EscapeShowsOnlyAFollowingEscape) {
    Feed({atascii::kEscape, 'A'});
    EXPECT_EQ(model.Cell(1, 1), 'A');
    ExpectCursor(2, 1);
    EXPECT_FALSE(model.EscapePending());

    GoTo(1, 5);
    Feed({atascii::kEscape, atascii::kCursorUp});
    ExpectCursor(1, 4);
    EXPECT_EQ(model.Cell(1, 4), kBlank);

    GoTo(1, 1);
    Feed({atascii::kEscape, atascii::kEscape});
    EXPECT_EQ(model.Cell(1, 1), atascii::kEscape);
    EXPECT_FALSE(model.EscapePending());

    GoTo(1, 1);
    Feed({atascii::kEscape, atascii::kEscape, atascii::kEscape});
    EXPECT_EQ(model.Cell(1, 1), atascii::kEscape);
    EXPECT_EQ(model.Cell(2, 1), kBlank);
    ExpectCursor(2, 1);
    EXPECT_TRUE(model.EscapePending());
}

TEST_F(ScreenModelTest, WithTheAtarisOwnEscapeEveryCodeAfterItShowsItsGlyph) {
    model.SetEscapeShowsControls(true);
    for (int code = 0; code < 256; ++code) {
        GoTo(5, 6);
        Feed({atascii::kEscape, code});
        EXPECT_EQ(model.Cell(5, 6), code) << code;
        ExpectCursor(6, 6);
        EXPECT_FALSE(model.EscapePending()) << code;
    }
    // Escape Escape is one Escape glyph, and nothing stays pending.
    GoTo(1, 1);
    Feed({atascii::kEscape, atascii::kEscape, 'A'});
    EXPECT_EQ(model.Cell(1, 1), atascii::kEscape);
    EXPECT_EQ(model.Cell(2, 1), 'A');
    // The last column wraps as any glyph does.
    GoTo(40, 3);
    Feed({atascii::kEscape, atascii::kClearScreen});
    EXPECT_EQ(model.Cell(40, 3), atascii::kClearScreen);
    ExpectCursor(1, 4);
    // Off again: Escape then cursor-up moves the cursor.
    model.SetEscapeShowsControls(false);
    Feed({atascii::kEscape, atascii::kCursorUp});
    ExpectCursor(1, 3);
}

TEST_F(ScreenModelTest, ABlockWriteShowsWhatByteByByteShowsInBothEscapeModes) {
    std::vector<std::uint8_t> stream;
    for (int code = 0; code < 256; ++code) {
        stream.insert(stream.end(), {'x', atascii::kEscape, static_cast<std::uint8_t>(code), 'y',
                                     static_cast<std::uint8_t>(code)});
    }
    for (const bool literal : {false, true}) {
        ScreenModel bytewise;
        ScreenModel blockwise;
        bytewise.SetEscapeShowsControls(literal);
        blockwise.SetEscapeShowsControls(literal);
        for (const std::uint8_t code : stream) {
            bytewise.WriteByte(code);
        }
        blockwise.Write(stream.data(), stream.size());
        for (int row = 1; row <= kStoreRows; ++row) {
            EXPECT_EQ(std::memcmp(bytewise.RowData(row), blockwise.RowData(row), kStoreColumns), 0)
                << "row " << row << (literal ? " literal" : "");
        }
        EXPECT_EQ(bytewise.CursorX(), blockwise.CursorX());
        EXPECT_EQ(bytewise.CursorY(), blockwise.CursorY());
    }
}

TEST_F(ScreenModelTest, IgnoredCodesChangeNothing) {
    GoTo(9, 9);
    Feed("Q");
    model.TakeDamage();
    Feed({atascii::kBuzzer, atascii::kClearTabStop, atascii::kSetTabStop});
    ExpectCursor(10, 9);
    EXPECT_EQ(model.Cell(9, 9), 'Q');
    EXPECT_EQ(model.Damage().bells, 1);
    EXPECT_FALSE(model.Damage().cursorMoved);
}

TEST_F(ScreenModelTest, InsertLineOnRowOnePushesEverythingDown) {
    FillRows();
    GoToRowStart(1);
    Feed({atascii::kTab});
    Feed({atascii::kInsertLine});
    ExpectCursor(1, 1);
    EXPECT_EQ(model.Cell(1, 1), kBlank);
    for (int row = 2; row <= 24; ++row) {
        EXPECT_EQ(model.Cell(1, row), 'A' + row - 2);
    }
    // The old row 24 left the 24-row screen.
    EXPECT_EQ(model.Cell(1, 25), 'X');
}

// With 25 rows shown, a line operation on row 25 works on the first 24 rows
// only: Delete Line there clears row 24 and leaves row 25 as it was.
TEST_F(ScreenModelTest, LineOperationsOnARowBelowTheirRowsTouchNothingElse) {
    ASSERT_TRUE(model.SetRows(25));
    FillRows();
    GoTo(1, 25);
    Feed("Y");
    GoTo(1, 25);
    Feed({atascii::kDeleteLine});
    EXPECT_EQ(model.Cell(1, 24), kBlank);
    EXPECT_EQ(model.Cell(1, 25), 'Y');
    EXPECT_EQ(model.Cell(1, 23), 'W');
    // Each row still has cells of its own: writing one changes no other.
    GoTo(1, 24);
    Feed("Q");
    EXPECT_EQ(model.Cell(1, 25), 'Y');
    GoTo(1, 25);
    Feed({atascii::kInsertLine});
    EXPECT_EQ(model.Cell(1, 25), kBlank);
    EXPECT_EQ(model.Cell(1, 24), 'Q');
}

TEST_F(ScreenModelTest, DeleteLinePullsRowsUp) {
    FillRows();
    GoToRowStart(24);
    Feed({atascii::kDeleteLine});
    EXPECT_EQ(model.Cell(1, 24), kBlank);
    EXPECT_EQ(model.Cell(1, 23), 'W');
    ExpectCursor(1, 24);

    FillRows();
    GoToRowStart(3);
    Feed({atascii::kTab, atascii::kDeleteLine});
    ExpectCursor(1, 3);
    EXPECT_EQ(model.Cell(1, 2), 'B');
    EXPECT_EQ(model.Cell(1, 3), 'D');
    EXPECT_EQ(model.Cell(1, 23), 'X');
    EXPECT_EQ(model.Cell(1, 24), kBlank);
}

TEST_F(ScreenModelTest, InsertAndDeleteCharacterAtTheEdges) {
    std::string row;
    for (int i = 0; i < 39; ++i) {
        row += static_cast<char>('0' + i % 10);
    }
    GoTo(1, 6);
    Feed(row + "E");
    GoTo(1, 6);
    Feed({atascii::kInsertChar});
    ExpectCursor(1, 6);
    EXPECT_EQ(RowText(6), " " + row);

    GoTo(1, 7);
    Feed(row + "E");
    GoTo(40, 7);
    Feed({atascii::kDeleteChar});
    ExpectCursor(40, 7);
    EXPECT_EQ(RowText(7), row + " ");

    GoTo(1, 8);
    Feed("ABCDE");
    GoTo(2, 8);
    Feed({atascii::kDeleteChar});
    EXPECT_EQ(RowText(8, 1, 5), "ACDE ");
    Feed({atascii::kInsertChar});
    EXPECT_EQ(RowText(8, 1, 5), "A CDE");

    GoTo(40, 9);
    Feed("Z");
    GoTo(40, 9);
    Feed({atascii::kInsertChar});
    EXPECT_EQ(model.Cell(40, 9), kBlank);
}

TEST_F(ScreenModelTest, ClearScreenBlanksTheWholeStore) {
    model.SetColumns(80);
    model.SetRows(25);
    Feed(std::string(300, '#'));
    Feed({atascii::kClearScreen});
    model.SetColumns(40);
    model.SetRows(24);
    ExpectCursor(1, 1);
    for (int row = 1; row <= kStoreRows; ++row) {
        for (int col = 1; col <= kStoreColumns; ++col) {
            ASSERT_EQ(model.Cell(col, row), kBlank);
        }
    }
}

TEST_F(ScreenModelTest, DisplayableCodesAreStoredUnchanged) {
    std::vector<int> codes;
    for (int c = 0; c <= 26; ++c) {
        codes.push_back(c);
    }
    for (int c = 128; c <= 154; ++c) {
        codes.push_back(c);
    }
    for (int c = 160; c <= 252; ++c) {
        codes.push_back(c);
    }
    for (int code : codes) {
        GoTo(3, 3);
        Feed({code});
        ASSERT_EQ(model.Cell(3, 3), code);
        ASSERT_EQ(model.CursorX(), 4) << code;
    }
}

TEST_F(ScreenModelTest, ShrinkingTheGridPullsTheCursorIn) {
    model.SetColumns(80);
    GoTo(70, 25 - 1);
    EXPECT_FALSE(model.SetColumns(1));
    EXPECT_FALSE(model.SetColumns(81));
    EXPECT_FALSE(model.SetRows(26));
    EXPECT_TRUE(model.SetColumns(40));
    EXPECT_TRUE(model.SetRows(10));
    ExpectCursor(40, 10);
    EXPECT_EQ(model.Columns(), 40);
    EXPECT_EQ(model.Rows(), 10);
}

TEST_F(ScreenModelTest, DamageCoversWrittenCells) {
    GoTo(5, 3);
    model.TakeDamage();
    Feed("AB");
    const ScreenDamage damage = model.TakeDamage();
    EXPECT_LE(damage.firstColumn[2], 5);
    EXPECT_GE(damage.lastColumn[2], 6);
    EXPECT_TRUE(damage.cursorMoved);
    EXPECT_FALSE(damage.wholeScreen);
    EXPECT_TRUE(model.TakeDamage().Empty());
}

// Byte by byte and as one block, whole and split at every point, the model
// must end in the same state.
TEST(ScreenModelBlockWrite, MatchesByteByByteOnRandomStreams) {
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<int> textByte(32, 122);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::uint8_t> stream(1 + random() % 400);
        for (auto& b : stream) {
            b = static_cast<std::uint8_t>(random() % 3 == 0 ? anyByte(random) : textByte(random));
        }
        ScreenModel bytewise;
        ScreenModel blockwise;
        bytewise.SetColumns(40);
        blockwise.SetColumns(40);
        for (auto b : stream) {
            bytewise.WriteByte(b);
        }
        const std::size_t split = random() % stream.size();
        blockwise.Write(stream.data(), split);
        blockwise.Write(stream.data() + split, stream.size() - split);
        ASSERT_EQ(bytewise.CursorX(), blockwise.CursorX());
        ASSERT_EQ(bytewise.CursorY(), blockwise.CursorY());
        ASSERT_EQ(bytewise.EscapePending(), blockwise.EscapePending());
        ASSERT_EQ(bytewise.TakeDamage().scrolls, blockwise.TakeDamage().scrolls);
        for (int row = 1; row <= kStoreRows; ++row) {
            for (int col = 1; col <= kStoreColumns; ++col) {
                ASSERT_EQ(bytewise.Cell(col, row), blockwise.Cell(col, row));
            }
        }
    }
}

std::vector<std::uint8_t> ReadTestFile(const std::string& name) {
    std::ifstream file(std::string(TELVORA_TESTDATA_DIR) + "/atascii/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A real BBS main menu: a clear screen, 21 lines of box drawing and inverse
// text, then a spinner drawn with cursor-left codes on row 23.
TEST(ScreenModelCapture, BbsMainMenuEndsWhereWorkedOut) {
    const auto capture = ReadTestFile("capture-40colmain.ata");
    ASSERT_EQ(capture.size(), 1231u);
    ScreenModel model;
    model.SetColumns(40);
    model.Write(capture.data(), capture.size());

    EXPECT_EQ(model.Cell(23, 2), kBlank);
    EXPECT_EQ(model.Cell(24, 2), 0x11); // top-left corner of the title box
    EXPECT_EQ(model.Cell(25, 2), 0x12);
    EXPECT_EQ(model.Cell(32, 2), 0x12);
    EXPECT_EQ(model.Cell(33, 2), 0x05);
    EXPECT_EQ(model.Cell(1, 4), 0xA0);
    EXPECT_EQ(model.Cell(7, 4), 0x86);
    EXPECT_EQ(model.Cell(38, 4), 0x82);
    EXPECT_EQ(model.Cell(28, 6), 0xC2); // inverse "B" of "Bulletin"
    EXPECT_EQ(model.Cell(29, 6), 'u');
    for (int col = 1; col <= 40; ++col) {
        EXPECT_EQ(model.Cell(col, 21), kBlank);
    }
    const std::string online = "New and Online:nitelite.ddns.net:9000";
    for (std::size_t i = 0; i < online.size(); ++i) {
        EXPECT_EQ(model.Cell(static_cast<int>(i) + 1, 22), online[i]);
    }
    const std::vector<int> row23 = {'0',  '2',  ':',  '3',  '0',  ' ',  0x19,
                                    0xC1, 0xED, 0xE9, 0xF3, 0x88, 0x0E, 0x0A};
    for (std::size_t i = 0; i < row23.size(); ++i) {
        EXPECT_EQ(model.Cell(static_cast<int>(i) + 1, 23), row23[i]) << "column " << i + 1;
    }
    EXPECT_EQ(model.CursorX(), 15);
    EXPECT_EQ(model.CursorY(), 23);
}

// The lines of a capture made for an XEP80 that hold only displayable codes,
// each with the screen row it belongs on: a clear screen wipes what came
// before and puts the next line on row 1; every End Of Line moves one row down.
std::vector<std::pair<int, std::vector<std::uint8_t>>>
PlainLines(const std::vector<std::uint8_t>& capture) {
    std::vector<std::pair<int, std::vector<std::uint8_t>>> lines;
    int row = 1;
    std::vector<std::uint8_t> line;
    bool plain = true;
    for (const std::uint8_t code : capture) {
        if (code == atascii::kClearScreen) {
            lines.clear();
            row = 1;
            line.clear();
            plain = true;
        } else if (code == atascii::kEndOfLine) {
            if (plain && !line.empty()) {
                lines.emplace_back(row, line);
            }
            ++row;
            line.clear();
            plain = true;
        } else {
            plain = plain && ShownAsGlyph(code) && code != atascii::kEscape;
            line.push_back(code);
        }
    }
    return lines;
}

// How many of the lines are not on their rows, exactly as received.
int LinesOutOfPlace(const ScreenModel& model,
                    const std::vector<std::pair<int, std::vector<std::uint8_t>>>& lines) {
    int misplaced = 0;
    for (const auto& [row, codes] : lines) {
        bool same = static_cast<int>(codes.size()) < model.Columns() &&
                    model.Cell(static_cast<int>(codes.size()) + 1, row) == kBlank;
        for (std::size_t i = 0; same && i < codes.size(); ++i) {
            same = model.Cell(static_cast<int>(i) + 1, row) == codes[i];
        }
        misplaced += same ? 0 : 1;
    }
    return misplaced;
}

// Two real captures made for 80 columns: at 80 each line stays on its own
// row, as the board drew it; at 40 the longer ones wrap into the next rows.
TEST(ScreenModelCapture, EightyColumnCapturesKeepTheirRows) {
    for (const char* name : {"capture-a.cap", "capture-mainmenu.cap"}) {
        const auto capture = ReadTestFile(name);
        ASSERT_FALSE(capture.empty()) << name;
        const auto lines = PlainLines(capture);
        ASSERT_GE(lines.size(), 10u) << name;

        ScreenModel wide;
        wide.SetColumns(80);
        wide.Write(capture.data(), capture.size());
        EXPECT_EQ(LinesOutOfPlace(wide, lines), 0) << name;

        const bool hasLongLines = std::any_of(
            lines.begin(), lines.end(), [](const auto& line) { return line.second.size() > 40; });
        ScreenModel narrow;
        narrow.SetColumns(40);
        narrow.Write(capture.data(), capture.size());
        if (hasLongLines) {
            EXPECT_GT(LinesOutOfPlace(narrow, lines), 0) << name;
        }
    }
}

} // namespace
