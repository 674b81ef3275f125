#include "screen/screen_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

using namespace telvora;

namespace {

// Two models fed the same stream, one way and another, must end alike.
void ExpectSameState(const ScreenModel& expected, const ScreenModel& actual) {
    for (int row = 1; row <= kStoreRows; ++row) {
        ASSERT_EQ(std::memcmp(expected.RowData(row), actual.RowData(row), kStoreColumns), 0)
            << "row " << row;
    }
    ASSERT_EQ(expected.CursorX(), actual.CursorX());
    ASSERT_EQ(expected.CursorY(), actual.CursorY());
    ASSERT_EQ(expected.EscapePending(), actual.EscapePending());
    ASSERT_EQ(expected.Damage().scrolls, actual.Damage().scrolls);
}

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
    // Column 1 of every store row, top down.
    std::string FirstColumn() {
        std::string text;
        for (int row = 1; row <= kStoreRows; ++row) {
            text += static_cast<char>(model.Cell(1, row));
        }
        return text;
    }
    // Row r starts with the r-th letter, so every row can be told from the others.
    void FillRows() {
        for (int row = 1; row <= 24; ++row) {
            GoTo(1, row);
            Feed(std::string(1, static_cast<char>('A' + row - 1)));
        }
    }
    void ExpectStoreBlank() {
        for (int row = 1; row <= kStoreRows; ++row) {
            for (int col = 1; col <= kStoreColumns; ++col) {
                ASSERT_EQ(model.Cell(col, row), kBlank) << col << "," << row;
            }
        }
    }

    ScreenModel model;
};

TEST_F(ScreenModelTest, StartsBlankWithCursorHome) {
    ExpectCursor(1, 1);
    ExpectStoreBlank();
}

// Each step on a blank screen: the cursor stays on it without a scroll, and
// only the row it started on shows anything.
TEST_F(ScreenModelTest, CursorCodesWrapAndEscapeShowsOnlyAFollowingEscape) {
    const int up = atascii::kCursorUp, down = atascii::kCursorDown;
    const int left = atascii::kCursorLeft, right = atascii::kCursorRight;
    const int esc = atascii::kEscape, bs = atascii::kBackspace;
    const int clear = atascii::kClearScreen;
    const std::string escape(1, static_cast<char>(esc)), cleared(1, static_cast<char>(clear));
    const std::string blanks(39, ' ');
    const struct {
        const char* name;
        int x, y;
        std::vector<int> codes;
        int cursorX, cursorY;
        std::string row; // its start; the rest is blank
        bool pending = false;
        bool literal = false;
    } steps[] = {
        {"LastColumnWrapsAtOnce", 40, 10, {'X'}, 1, 11, blanks + "X"},
        {"DownFromTheBottomRow", 5, 24, {down}, 5, 1, ""},
        {"UpFromTheTopRow", 5, 1, {up}, 5, 24, ""},
        {"LeftFromColumnOne", 1, 3, {left}, 40, 3, ""},
        {"RightFromTheLastColumn", 40, 3, {right}, 1, 3, ""},
        {"BackspaceErasesLeft", 1, 2, {'A', 'B', 'C', 'D', bs}, 4, 2, "ABC"},
        {"BackspaceNeverLeavesTheRow", 1, 3, {bs}, 1, 3, ""},
        {"EscapeBeforeAGlyph", 1, 1, {esc, 'A'}, 2, 1, "A"},
        {"EscapeBeforeACursorCode", 1, 5, {esc, up}, 1, 4, ""},
        {"EscapeEscapeIsShown", 1, 1, {esc, esc}, 2, 1, escape},
        {"AThirdEscapeWaits", 1, 1, {esc, esc, esc}, 2, 1, escape, true},
        // With the Atari's own Escape, Escape Escape is one Escape glyph, and
        // the last column wraps as any glyph does.
        {"LiteralEscapeEscape", 1, 1, {esc, esc, 'A'}, 3, 1, escape + "A", false, true},
        {"LiteralEscapeWraps", 40, 3, {esc, clear}, 1, 4, blanks + cleared, false, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        model = ScreenModel();
        model.SetColumns(40);
        model.SetEscapeShowsControls(step.literal);
        GoTo(step.x, step.y);
        for (const int code : step.codes) {
            Feed({code});
        }
        ExpectCursor(step.cursorX, step.cursorY);
        EXPECT_EQ(model.EscapePending(), step.pending);
        EXPECT_EQ(model.Damage().scrolls, 0);
        for (int row = 1; row <= kStoreRows; ++row) {
            const std::string shown = row == step.y ? step.row : "";
            EXPECT_EQ(RowText(row), shown + std::string(40 - shown.size(), ' ')) << row;
        }
    }
}

TEST_F(ScreenModelTest, WritingTheLastCellScrollsAtOnce) {
    Feed("TOP");
    GoTo(1, 2);
    Feed("SECOND");
    GoTo(1, 24);
    Feed(std::string(39, 'b') + "Z");
    ExpectCursor(1, 24);
    EXPECT_EQ(RowText(1, 1, 6), "SECOND");
    EXPECT_EQ(RowText(23), std::string(39, 'b') + "Z");
    EXPECT_EQ(RowText(24), std::string(40, ' '));
    EXPECT_EQ(model.Damage().scrolls, 1);
}

// Stops every 8 columns up to 40, or up to the last column of a wider grid.
TEST_F(ScreenModelTest, TabStopsAreFixedEveryEightColumnsUpToTheLastColumn) {
    const struct {
        int columns, from, to;
    } tabs[] = {{40, 1, 8},   {40, 7, 8},   {40, 8, 16},  {40, 15, 16}, {40, 16, 24}, {40, 24, 32},
                {40, 32, 40}, {40, 39, 40}, {40, 40, 40}, {80, 1, 8},   {80, 39, 40}, {80, 40, 48},
                {80, 41, 48}, {80, 72, 80}, {80, 79, 80}, {80, 80, 80}, {60, 57, 60}};
    for (const auto& tab : tabs) {
        SCOPED_TRACE(testing::Message() << tab.columns << " columns, from column " << tab.from);
        model.SetColumns(tab.columns);
        GoTo(tab.from, 4);
        Feed({atascii::kTab});
        ExpectCursor(tab.to, 4);
    }
    // Setting and clearing tab stops changes nothing.
    model.SetColumns(40);
    GoTo(3, 4);
    Feed({atascii::kSetTabStop, atascii::kClearTabStop, atascii::kTab});
    ExpectCursor(8, 4);
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
    // Off again: Escape then cursor-up moves the cursor.
    model.SetEscapeShowsControls(false);
    Feed({atascii::kEscape, atascii::kCursorUp});
    ExpectCursor(6, 5);
}

TEST_F(ScreenModelTest, ABlockWriteShowsWhatByteByByteShowsInBothEscapeModes) {
    std::vector<std::uint8_t> stream;
    for (int code = 0; code < 256; ++code) {
        stream.insert(stream.end(), {'x', atascii::kEscape, static_cast<std::uint8_t>(code), 'y',
                                     static_cast<std::uint8_t>(code)});
    }
    for (const bool literal : {false, true}) {
        SCOPED_TRACE(literal ? "literal" : "acted on");
        ScreenModel bytewise;
        ScreenModel blockwise;
        bytewise.SetEscapeShowsControls(literal);
        blockwise.SetEscapeShowsControls(literal);
        for (const std::uint8_t code : stream) {
            bytewise.WriteByte(code);
        }
        blockwise.Write(stream.data(), stream.size());
        ExpectSameState(bytewise, blockwise);
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

// One code on a screen whose row r starts with the r-th letter. With 24 rows
// the store's row 25 is off the screen: it takes the row an Insert Line
// pushes out, and otherwise stays blank.
TEST_F(ScreenModelTest, LineCodesMoveTheRowsOfTheFirst24) {
    const int insert = atascii::kInsertLine, erase = atascii::kDeleteLine;
    const int end = atascii::kEndOfLine;
    const struct {
        const char* name;
        int row; // where the code arrives, the cursor first tabbed off column 1
        int code;
        int cursorRow;           // the cursor ends in column 1 of it
        std::string firstColumn; // of all 25 store rows afterwards
        int scrolls;
    } cases[] = {
        {"InsertLineOnRowOnePushesEverythingDown", 1, insert, 1, " ABCDEFGHIJKLMNOPQRSTUVWX", 0},
        {"DeleteLinePullsRowsUp", 3, erase, 3, "ABDEFGHIJKLMNOPQRSTUVWX  ", 0},
        {"DeleteLineOnTheBottomRowBlanksIt", 24, erase, 24, "ABCDEFGHIJKLMNOPQRSTUVW  ", 0},
        {"EndOfLineMovesDown", 5, end, 6, "ABCDEFGHIJKLMNOPQRSTUVWX ", 0},
        {"EndOfLineScrollsOnlyAtTheBottom", 24, end, 24, "BCDEFGHIJKLMNOPQRSTUVWX  ", 1},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        model = ScreenModel();
        model.SetColumns(40);
        FillRows();
        GoTo(1, test.row);
        Feed({atascii::kTab, test.code});
        ExpectCursor(1, test.cursorRow);
        EXPECT_EQ(FirstColumn(), test.firstColumn);
        EXPECT_EQ(model.Damage().scrolls, test.scrolls);
        // The code itself leaves no glyph anywhere.
        for (int row = 1; row <= kStoreRows; ++row) {
            EXPECT_EQ(RowText(row, 2, kStoreColumns), std::string(kStoreColumns - 1, ' ')) << row;
        }
    }
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

TEST_F(ScreenModelTest, InsertAndDeleteCharacterAtTheEdges) {
    const std::string digits = "012345678901234567890123456789012345678";
    const int insert = atascii::kInsertChar;
    const int erase = atascii::kDeleteChar;
    const struct {
        std::string text;
        int from;   // where the text is written
        int column; // where the codes arrive; the cursor stays there
        std::vector<int> codes;
        std::string row;
    } edits[] = {
        {digits + "E", 1, 1, {insert}, " " + digits},
        {digits + "E", 1, 40, {erase}, digits + " "},
        {"ABCDE", 1, 2, {erase}, "ACDE" + std::string(36, ' ')},
        {"ABCDE", 1, 2, {erase, insert}, "A CDE" + std::string(35, ' ')},
        {"Z", 40, 40, {insert}, std::string(40, ' ')},
    };
    int row = 1;
    for (const auto& edit : edits) {
        SCOPED_TRACE(testing::Message() << "row " << row);
        GoTo(edit.from, row);
        Feed(edit.text);
        GoTo(edit.column, row);
        for (const int code : edit.codes) {
            Feed({code});
        }
        ExpectCursor(edit.column, row);
        EXPECT_EQ(RowText(row), edit.row);
        ++row;
    }
}

TEST_F(ScreenModelTest, ClearScreenBlanksTheWholeStore) {
    model.SetColumns(80);
    model.SetRows(25);
    Feed(std::string(300, '#'));
    Feed({atascii::kClearScreen});
    model.SetColumns(40);
    model.SetRows(24);
    ExpectCursor(1, 1);
    ExpectStoreBlank();
}

TEST_F(ScreenModelTest, DisplayableCodesAreStoredUnchanged) {
    for (int code = 0; code <= 252; ++code) {
        if ((code > 26 && code < 128) || (code > 154 && code < 160)) {
            continue;
        }
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
        SCOPED_TRACE(testing::Message() << "round " << round);
        ASSERT_NO_FATAL_FAILURE(ExpectSameState(bytewise, blockwise));
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

    const struct {
        int column, row, code;
    } cells[] = {{23, 2, kBlank}, {24, 2, 0x11}, {25, 2, 0x12}, {32, 2, 0x12}, {33, 2, 0x05},
                 {1, 4, 0xA0},    {7, 4, 0x86},  {38, 4, 0x82}, {28, 6, 0xC2}, {29, 6, 'u'}};
    // 24,2 is the title box's top-left corner; 28,6 the inverse "B" of "Bulletin".
    for (const auto& cell : cells) {
        EXPECT_EQ(model.Cell(cell.column, cell.row), cell.code) << cell.column << "," << cell.row;
    }
    const std::string online = "New and Online:nitelite.ddns.net:9000";
    const std::vector<std::vector<int>> rows = {
        std::vector<int>(40, kBlank),
        std::vector<int>(online.begin(), online.end()),
        {'0', '2', ':', '3', '0', ' ', 0x19, 0xC1, 0xED, 0xE9, 0xF3, 0x88, 0x0E, 0x0A}};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (std::size_t col = 0; col < rows[i].size(); ++col) {
            EXPECT_EQ(model.Cell(static_cast<int>(col) + 1, static_cast<int>(i) + 21), rows[i][col])
                << "row " << i + 21 << " column " << col + 1;
        }
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
