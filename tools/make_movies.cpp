// Writes the demo ATASCII movies (raw screen bytes, no header) that ship in
// the MOVIES folder: WELCOME.ATA, ANIMATION.ATA and SCROLLER.ATA.
//
//   make_movies [OUTPUT-DIR]     (default: MOVIES)
//
// The screen is 40 x 24. Writing into column 40 moves the cursor to the next
// row at once (scrolling on the last row), so a line of exactly 40 codes is
// never followed by an end of line: that would leave an empty row.

#include "output_files.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kColumns = 40;
constexpr int kRows = 24;

namespace code {
constexpr std::uint8_t kHeart = 0;
constexpr std::uint8_t kTeeRight = 1;
constexpr std::uint8_t kRightBar = 2;
constexpr std::uint8_t kCornerUpLeft = 3;
constexpr std::uint8_t kTeeLeft = 4;
constexpr std::uint8_t kCornerLeftDown = 5;
constexpr std::uint8_t kRising = 6;
constexpr std::uint8_t kFalling = 7;
constexpr std::uint8_t kLowerRightTriangle = 8;
constexpr std::uint8_t kLowerRightQuadrant = 9;
constexpr std::uint8_t kLowerLeftTriangle = 10;
constexpr std::uint8_t kUpperRightQuadrant = 11;
constexpr std::uint8_t kUpperLeftQuadrant = 12;
constexpr std::uint8_t kTopBand = 13;
constexpr std::uint8_t kBottomBand = 14;
constexpr std::uint8_t kLowerLeftQuadrant = 15;
constexpr std::uint8_t kClub = 16;
constexpr std::uint8_t kCornerRightDown = 17;
constexpr std::uint8_t kHorizontal = 18;
constexpr std::uint8_t kCross = 19;
constexpr std::uint8_t kBall = 20;
constexpr std::uint8_t kLowerHalf = 21;
constexpr std::uint8_t kLeftBar = 22;
constexpr std::uint8_t kTeeDown = 23;
constexpr std::uint8_t kTeeUp = 24;
constexpr std::uint8_t kLeftHalf = 25;
constexpr std::uint8_t kCornerUpRight = 26;
constexpr std::uint8_t kEscape = 27;
constexpr std::uint8_t kUp = 28;
constexpr std::uint8_t kDown = 29;
constexpr std::uint8_t kLeft = 30;
constexpr std::uint8_t kRight = 31;
constexpr std::uint8_t kDiamond = 96;
constexpr std::uint8_t kSpade = 123;
constexpr std::uint8_t kVertical = 124;
constexpr std::uint8_t kClear = 125;
constexpr std::uint8_t kBackspace = 126;
constexpr std::uint8_t kTab = 127;
constexpr std::uint8_t kInverse = 0x80;
constexpr std::uint8_t kEndOfLine = 155;
constexpr std::uint8_t kDeleteLine = 156;
constexpr std::uint8_t kInsertLine = 157;
constexpr std::uint8_t kPause = 158; // clear tab stop: the screen ignores it
constexpr std::uint8_t kSolid = 160;
constexpr std::uint8_t kDeleteChar = 254;
constexpr std::uint8_t kInsertChar = 255;
} // namespace code

// True for the codes the screen stores and shows rather than acts on.
bool IsDisplayable(std::uint8_t c) {
    const int base = c & 0x7F;
    if (c == code::kEscape || (c >= code::kUp && c <= code::kRight)) {
        return false;
    }
    if (base >= code::kClear && base <= code::kTab) {
        return false;
    }
    return !(c >= code::kEndOfLine && c <= 159);
}

// Builds a movie while keeping track of where the screen's cursor stands, so
// that scenes can be laid out by position although ATASCII only has relative
// cursor moves.
class MovieWriter {
public:
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
    int X() const { return m_x; }
    int Y() const { return m_y; }

    void Clear() {
        Raw(code::kClear);
        m_x = 1;
        m_y = 1;
    }

    void Glyph(std::uint8_t c) {
        if (!IsDisplayable(c)) {
            throw std::logic_error("code " + std::to_string(c) + " is not displayable");
        }
        Raw(c);
        if (++m_x > kColumns) {
            m_x = 1;
            m_y = std::min(m_y + 1, kRows);
        }
    }

    void Glyphs(std::uint8_t c, int count) {
        for (int i = 0; i < count; ++i) {
            Glyph(c);
        }
    }

    void Text(std::string_view text, bool inverse = false) {
        for (char ch : text) {
            const auto c = static_cast<std::uint8_t>(ch);
            Glyph(inverse ? static_cast<std::uint8_t>(c | code::kInverse) : c);
        }
    }

    void Inverse(std::string_view text) { Text(text, true); }

    void EndOfLine() {
        Raw(code::kEndOfLine);
        m_x = 1;
        m_y = std::min(m_y + 1, kRows);
    }

    // The Escape glyph can only be shown by sending Escape twice.
    void EscapeGlyph() {
        Raw(code::kEscape);
        Raw(code::kEscape);
        Advance();
    }

    void Up() {
        Raw(code::kUp);
        m_y = m_y == 1 ? kRows : m_y - 1;
    }
    void Down() {
        Raw(code::kDown);
        m_y = m_y == kRows ? 1 : m_y + 1;
    }
    void Left() {
        Raw(code::kLeft);
        m_x = m_x == 1 ? kColumns : m_x - 1;
    }
    void Right() {
        Raw(code::kRight);
        m_x = m_x == kColumns ? 1 : m_x + 1;
    }

    // Shortest way there with the wrapping cursor keys.
    void MoveTo(int column, int row) {
        const int right = (column - m_x + kColumns) % kColumns;
        while (m_x != column) {
            right <= kColumns / 2 ? Right() : Left();
        }
        const int down = (row - m_y + kRows) % kRows;
        while (m_y != row) {
            down <= kRows / 2 ? Down() : Up();
        }
    }

    void Tab() {
        Raw(code::kTab);
        if (m_x <= kColumns) {
            m_x = std::min((m_x / 8 + 1) * 8, kColumns);
        }
    }

    void Backspace() {
        Raw(code::kBackspace);
        if (m_x > 1) {
            --m_x;
        }
    }

    void InsertLine() {
        Raw(code::kInsertLine);
        m_x = 1;
    }
    void DeleteLine() {
        Raw(code::kDeleteLine);
        m_x = 1;
    }
    void InsertChar() { Raw(code::kInsertChar); }
    void DeleteChar() { Raw(code::kDeleteChar); }

    // Bytes the screen ignores: at a throttled speed they hold the picture
    // for a moment, which paces the animations.
    void Pause(int bytes) {
        for (int i = 0; i < bytes; ++i) {
            Raw(code::kPause);
        }
    }

    // A line of text, centred; the end of line is left out when the line
    // fills all 40 columns, because the cursor has wrapped already.
    void CentredLine(std::string_view text, bool inverse = false) {
        const int pad = (kColumns - static_cast<int>(text.size())) / 2;
        Glyphs(' ', pad);
        Text(text, inverse);
        if (m_x != 1) {
            EndOfLine();
        }
    }

private:
    void Raw(std::uint8_t c) { m_bytes.push_back(c); }
    void Advance() {
        if (++m_x > kColumns) {
            m_x = 1;
            m_y = std::min(m_y + 1, kRows);
        }
    }

    std::vector<std::uint8_t> m_bytes;
    int m_x = 1;
    int m_y = 1;
};

// ---------------------------------------------------------------- WELCOME

constexpr int kBoxInside = kColumns - 2;

void BoxEdge(MovieWriter& m, std::uint8_t left, std::uint8_t right) {
    m.Glyph(left);
    m.Glyphs(code::kHorizontal, kBoxInside);
    m.Glyph(right); // column 40: the cursor is on the next row already
}

// One row inside the frame: the content is centred in the frame's width.
// Returns the column where the content starts.
int BoxRow(MovieWriter& m, const std::vector<std::uint8_t>& inside) {
    m.Glyph(code::kVertical);
    const int pad = kBoxInside - static_cast<int>(inside.size());
    m.Glyphs(' ', pad / 2);
    const int start = m.X();
    for (auto c : inside) {
        m.Glyph(c);
    }
    m.Glyphs(' ', pad - pad / 2);
    m.Glyph(code::kVertical);
    return start;
}

std::vector<std::uint8_t> Codes(std::string_view text, bool inverse = false) {
    std::vector<std::uint8_t> out;
    for (char ch : text) {
        out.push_back(static_cast<std::uint8_t>(static_cast<std::uint8_t>(ch) |
                                                (inverse ? code::kInverse : 0)));
    }
    return out;
}

std::vector<std::uint8_t> Repeat(std::initializer_list<std::uint8_t> pattern, int count) {
    std::vector<std::uint8_t> out;
    for (int i = 0; i < count; ++i) {
        out.insert(out.end(), pattern);
    }
    return out;
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

std::vector<std::uint8_t> MakeWelcome() {
    MovieWriter m;
    m.Clear();
    BoxEdge(m, code::kCornerRightDown, code::kCornerLeftDown);
    BoxRow(m, {});
    // The name on an inverse plate; the edge bars widen the plate by a
    // quarter cell at each end.
    BoxRow(m, Join({{code::kRightBar}, Codes("  T E L V O R A  ", true), {code::kLeftBar}}));
    BoxRow(m, {});
    BoxRow(m, Codes("An ATASCII terminal for Atari BBSes"));
    BoxRow(m, {});
    BoxRow(m, Repeat({code::kHeart, ' ', code::kClub, ' ', code::kDiamond, ' ', code::kSpade, ' '},
                     4));
    BoxEdge(m, code::kTeeRight, code::kTeeLeft);
    BoxRow(m, Codes("Connect  Telnet - Serial - Movies  "));
    BoxRow(m, Codes("Speeds   300 600 1200 2400 or full "));
    BoxRow(m, Codes("Files    X-Modem Y-Modem F-Modem   "));
    BoxRow(m, {});
    // A mountain range standing on solid ground with a word cut into it.
    BoxRow(m,
           Join({Codes("  "),
                 {code::kLowerRightTriangle, code::kLowerLeftTriangle},
                 Codes("   "),
                 {code::kLowerRightTriangle, code::kSolid, code::kLowerLeftTriangle},
                 Codes("  "),
                 Repeat({code::kLowerRightTriangle, code::kLowerLeftTriangle}, 3),
                 Codes("    "),
                 {code::kLowerRightTriangle, code::kSolid, code::kSolid, code::kLowerLeftTriangle},
                 Codes("  "),
                 {code::kLowerRightTriangle, code::kLowerLeftTriangle},
                 Codes("   ")}));
    BoxRow(m, Join({Repeat({code::kSolid}, 11), Codes("WELCOME", true), Repeat({code::kSolid}, 2),
                    Codes("ABOARD", true), Repeat({code::kSolid}, 12)}));
    BoxRow(m, Repeat({code::kRising, code::kFalling}, kBoxInside / 2));
    BoxRow(m, Repeat({code::kUpperLeftQuadrant, code::kLowerRightQuadrant}, kBoxInside / 2));
    BoxRow(m, Repeat({code::kLowerLeftQuadrant, code::kUpperRightQuadrant}, kBoxInside / 2));
    BoxRow(m, {});
    // A little legend of the blocks and lines, with a cross in the middle.
    // The Escape glyph needs Escape twice, so its place is left blank and
    // filled afterwards.
    const auto legend =
        Join({{code::kTopBand, code::kBottomBand, code::kLowerHalf, code::kLeftHalf, ' ',
               code::kTeeDown, code::kTeeUp, code::kCross, code::kHorizontal, code::kCross, ' ',
               code::kBall, code::kBall | code::kInverse, code::kBall},
              Codes("  Esc= ")});
    const int legendRow = m.Y();
    const int legendStart = BoxRow(m, legend);
    const int rowAfter = m.Y();
    m.MoveTo(legendStart + static_cast<int>(legend.size()) - 1, legendRow);
    m.EscapeGlyph();
    m.MoveTo(1, rowAfter);
    BoxRow(m, {});
    BoxEdge(m, code::kCornerUpRight, code::kCornerUpLeft);
    m.Text(" Happy calling! ");
    m.Inverse(" 1200-2400 bps ");
    m.EndOfLine();
    return m.Bytes();
}

// -------------------------------------------------------------- ANIMATION

constexpr int kCourtTop = 3;
constexpr int kCourtBottom = 14;
constexpr int kBallFrames = 170;
constexpr int kBallPause = 4;
constexpr int kMarqueeRow = 20;
constexpr int kPushRow = 22;
constexpr int kMarqueePause = 3;
constexpr int kStripes = 6;

void DrawCourt(MovieWriter& m) {
    m.MoveTo(1, kCourtTop);
    BoxEdge(m, code::kCornerRightDown, code::kCornerLeftDown);
    for (int row = kCourtTop + 1; row < kCourtBottom; ++row) {
        BoxRow(m, {});
    }
    BoxEdge(m, code::kCornerUpRight, code::kCornerUpLeft);
}

// The legend is laid out with tab stops (columns 8, 16, 24, 32).
void DrawLegend(MovieWriter& m) {
    m.MoveTo(1, 16);
    const char* names[] = {"MOVE", "INSERT", "DELETE", "TAB", "CLEAR"};
    const char* codes[] = {"28-31", "157 255", "156 254", "127", "125"};
    for (int i = 0; i < 5; ++i) {
        if (i > 0) {
            m.Tab();
        }
        m.Inverse(names[i]);
    }
    m.EndOfLine();
    for (int i = 0; i < 5; ++i) {
        if (i > 0) {
            m.Tab();
        }
        m.Text(codes[i]);
    }
    m.EndOfLine();
}

// The ball: backspace erases it (the cursor stands just right of it), then
// the cursor keys take it one step diagonally.
void BounceBall(MovieWriter& m) {
    int x = 5;
    int y = kCourtTop + 2;
    int dx = 1;
    int dy = 1;
    m.MoveTo(x, y);
    m.Glyph(code::kBall);
    for (int frame = 0; frame < kBallFrames; ++frame) {
        if (x + dx < 2 || x + dx > kColumns - 1) {
            dx = -dx;
        }
        if (y + dy <= kCourtTop || y + dy >= kCourtBottom) {
            dy = -dy;
        }
        m.Backspace();
        x += dx;
        y += dy;
        m.MoveTo(x, y);
        m.Glyph(code::kBall);
        m.Pause(kBallPause);
    }
    m.Backspace();
}

// Right-to-left marquee: delete the first character of the row, then write
// the next letter into column 40 (reached from column 1 by one cursor left);
// writing there wraps to the next row, so one cursor up comes back.
void Marquee(MovieWriter& m, std::string_view message) {
    m.MoveTo(1, kMarqueeRow);
    for (char ch : message) {
        m.DeleteChar();
        m.Left();
        m.Glyph(static_cast<std::uint8_t>(ch));
        m.Up();
        m.Pause(kMarqueePause);
    }
}

// Left-to-right push: insert a blank at column 1, shoving the row right,
// then fill it; the message is sent back to front so that it reads right.
void PushText(MovieWriter& m, std::string_view message) {
    m.MoveTo(1, kPushRow);
    for (auto it = message.rbegin(); it != message.rend(); ++it) {
        m.InsertChar();
        m.Glyph(static_cast<std::uint8_t>(*it | code::kInverse));
        m.Left();
        m.Pause(kMarqueePause);
    }
}

// Striped bars pour in above the court, pushing it down, then are deleted
// again so that the court rises back.
void Curtain(MovieWriter& m) {
    const std::uint8_t stripes[kStripes] = {code::kRising,    code::kSolid,   code::kFalling,
                                            code::kLowerHalf, code::kDiamond, code::kTopBand};
    for (int i = 0; i < kStripes; ++i) {
        m.MoveTo(1, kCourtTop);
        m.InsertLine();
        m.Glyphs(stripes[i], kColumns); // wraps to the row below
        m.Pause(8);
    }
    m.MoveTo(1, kCourtTop);
    for (int i = 0; i < kStripes; ++i) {
        m.DeleteLine();
        m.Pause(8);
    }
}

std::vector<std::uint8_t> MakeAnimation() {
    MovieWriter m;
    m.Clear();
    m.CentredLine(" TELVORA IN MOTION ", true);
    DrawCourt(m);
    DrawLegend(m);
    BounceBall(m);
    Marquee(m, "*** Welcome to Telvora: the ATASCII terminal for your favourite "
               "Atari boards ***                                        ");
    PushText(m, "  cursor keys, insert and delete  ");
    Curtain(m);
    m.MoveTo(1, kCourtTop + 5);
    m.CentredLine("That's all, folks!");
    m.Pause(60);
    m.Clear();
    m.CentredLine("THE END", true);
    return m.Bytes();
}

// --------------------------------------------------------------- SCROLLER

constexpr int kRiverLines = 320;

int RiverCentre(int line) {
    const double t = line;
    return 20 + static_cast<int>(std::lround(7.0 * std::sin(t / 11.0) + 2.0 * std::sin(t / 7.0)));
}

int RiverWidth(int line) {
    return 12 + static_cast<int>(std::lround(4.0 * std::sin(line / 17.0)));
}

// A winding river seen from above, scrolling past: solid banks, diagonal
// edges where the river bends, and now and then something floating by.
void River(MovieWriter& m) {
    for (int line = 0; line < kRiverLines; ++line) {
        const int left = RiverCentre(line) - RiverWidth(line) / 2;
        const int right = left + RiverWidth(line); // first column of the right bank
        const int nextLeft = RiverCentre(line + 1) - RiverWidth(line + 1) / 2;
        const int nextRight = nextLeft + RiverWidth(line + 1);
        std::vector<std::uint8_t> row(kColumns, ' ');
        for (int x = 1; x <= kColumns; ++x) {
            if (x < left || x > right) {
                row.at(static_cast<std::size_t>(x - 1)) = code::kSolid;
            }
        }
        // The bank cell leans the way the river goes on the next line.
        row.at(static_cast<std::size_t>(left - 1)) =
            nextLeft > left ? code::kLowerLeftTriangle
            : nextLeft < left
                ? static_cast<std::uint8_t>(code::kLowerRightTriangle | code::kInverse)
                : code::kLeftBar;
        row.at(static_cast<std::size_t>(right - 1)) =
            nextRight < right ? code::kLowerRightTriangle
            : nextRight > right
                ? static_cast<std::uint8_t>(code::kLowerLeftTriangle | code::kInverse)
                : code::kRightBar;
        if (line % 23 == 11) {
            const std::uint8_t floats[] = {code::kHeart, code::kDiamond, code::kClub, code::kSpade,
                                           code::kBall};
            row.at(static_cast<std::size_t>(left + 2 + line % 5)) = floats[line % 5];
        }
        if (line % 40 == 30) {
            const std::string_view word = "TELVORA";
            for (std::size_t i = 0; i < word.size(); ++i) {
                row.at(static_cast<std::size_t>(left + 1) + i) = static_cast<std::uint8_t>(word[i]);
            }
        }
        for (auto c : row) {
            m.Glyph(c); // 40 codes: the cursor wraps, no end of line
        }
    }
}

std::vector<std::uint8_t> MakeScroller() {
    MovieWriter m;
    m.Clear();
    const char* intro[] = {"",
                           "T E L V O R A",
                           "",
                           "presents",
                           "",
                           "A JOURNEY DOWN THE RIVER",
                           "",
                           "on a 40 x 24 screen,",
                           "one line at a time,",
                           "at the speed of your modem.",
                           "",
                           "Every picture here is made of",
                           "ATASCII graphics characters:",
                           "solid blocks, triangles and bars.",
                           "",
                           "Sit back and watch it flow...",
                           ""};
    bool title = true;
    for (const char* line : intro) {
        m.CentredLine(line, title && *line != '\0');
        if (*line != '\0') {
            title = false;
        }
    }
    m.Glyphs(code::kBottomBand, kColumns);
    River(m);
    m.Glyphs(code::kTopBand, kColumns);
    const char* outro[] = {"",
                           "...and the river reaches the sea.",
                           "",
                           "Written with nothing but",
                           "text, graphics and line ends.",
                           "",
                           "THE END",
                           "",
                           "",
                           "",
                           "",
                           "",
                           "",
                           "",
                           "",
                           "",
                           ""};
    for (const char* line : outro) {
        m.CentredLine(line, std::string_view(line) == "THE END");
    }
    return m.Bytes();
}

bool WriteMovie(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    return telvora::tools::WriteOutputFile("make_movies", path, bytes.data(), bytes.size());
}

} // namespace

int main(int argc, char** argv) {
    const auto found = telvora::tools::OutputDirectory("make_movies", argc, argv, "MOVIES");
    if (!found) {
        return argc > 2 ? 2 : 1;
    }
    const std::filesystem::path& dir = *found;
    try {
        const bool ok = WriteMovie(dir / "WELCOME.ATA", MakeWelcome()) &&
                        WriteMovie(dir / "ANIMATION.ATA", MakeAnimation()) &&
                        WriteMovie(dir / "SCROLLER.ATA", MakeScroller());
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "make_movies: " << e.what() << '\n';
        return 1;
    }
}
