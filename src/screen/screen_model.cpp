#include "screen/screen_model.h"

#include <algorithm>
#include <cstring>

namespace telvora {

namespace {

enum class Action : std::uint8_t {
    Display,
    Escape,
    CursorUp,
    CursorDown,
    CursorLeft,
    CursorRight,
    ClearScreen,
    Backspace,
    Tab,
    EndOfLine,
    DeleteLine,
    InsertLine,
    Ignore,
    Buzzer,
    DeleteChar,
    InsertChar,
};

constexpr std::array<Action, 256> MakeActionTable() {
    std::array<Action, 256> table{};
    for (auto& action : table) {
        action = Action::Display;
    }
    table[atascii::kEscape] = Action::Escape;
    table[atascii::kCursorUp] = Action::CursorUp;
    table[atascii::kCursorDown] = Action::CursorDown;
    table[atascii::kCursorLeft] = Action::CursorLeft;
    table[atascii::kCursorRight] = Action::CursorRight;
    table[atascii::kClearScreen] = Action::ClearScreen;
    table[atascii::kBackspace] = Action::Backspace;
    table[atascii::kTab] = Action::Tab;
    table[atascii::kEndOfLine] = Action::EndOfLine;
    table[atascii::kDeleteLine] = Action::DeleteLine;
    table[atascii::kInsertLine] = Action::InsertLine;
    table[atascii::kClearTabStop] = Action::Ignore;
    table[atascii::kSetTabStop] = Action::Ignore;
    table[atascii::kBuzzer] = Action::Buzzer;
    table[atascii::kDeleteChar] = Action::DeleteChar;
    table[atascii::kInsertChar] = Action::InsertChar;
    return table;
}

constexpr std::array<Action, 256> kActions = MakeActionTable();

static_assert(kScrollbackColumns == kStoreColumns, "a scrolled-off row must fit its slot");

// The line operations always work on the first 24 rows, whatever Rows holds.
constexpr int kLineOperationRows = 24;

// Fixed tab stops every 8 columns up to column 40, or up to the last column
// of a wider grid (80 columns on an XEP80); there is no tab-stop table.
constexpr int kTabWidth = 8;
constexpr int kNarrowLastTabStop = 40;

bool IsDisplayable(std::uint8_t code) {
    return kActions[code] == Action::Display;
}

} // namespace

bool ShownAsGlyph(std::uint8_t code) {
    return IsDisplayable(code);
}

void ScreenDamage::AddCells(int row, int first, int last) {
    first = std::max(first, 1);
    last = std::min(last, kStoreColumns);
    if (first > last || row < 1 || row > kStoreRows) {
        return;
    }
    auto& f = firstColumn[row - 1];
    auto& l = lastColumn[row - 1];
    if (f == 0) {
        f = static_cast<std::uint8_t>(first);
        l = static_cast<std::uint8_t>(last);
    } else {
        f = static_cast<std::uint8_t>(std::min<int>(f, first));
        l = static_cast<std::uint8_t>(std::max<int>(l, last));
    }
}

bool ScreenDamage::Empty() const {
    return !wholeScreen && !cursorMoved && scrolls == 0 && bells == 0 &&
           std::all_of(firstColumn.begin(), firstColumn.end(), [](auto f) { return f == 0; });
}

ScreenModel::ScreenModel() {
    for (auto& row : m_cells) {
        row.fill(kBlank);
    }
}

bool ScreenModel::SetColumns(int columns) {
    if (columns < 2 || columns > kStoreColumns) {
        return false;
    }
    m_columns = columns;
    m_cursorX = std::min(m_cursorX, m_columns);
    RepaintAll();
    return true;
}

bool ScreenModel::SetRows(int rows) {
    if (rows < 2 || rows > kStoreRows) {
        return false;
    }
    m_rows = rows;
    m_cursorY = std::min(m_cursorY, m_rows);
    RepaintAll();
    return true;
}

ScreenDamage ScreenModel::TakeDamage() {
    ScreenDamage taken = m_damage;
    m_damage = ScreenDamage{};
    return taken;
}

void ScreenModel::Write(const std::uint8_t* data, std::size_t count) {
    std::size_t i = 0;
    while (i < count) {
        if (!m_escapePending && IsDisplayable(data[i])) {
            // A run of displayable codes up to the end of the cursor's row is
            // one copy; the wrap (and scroll) happens after its last code.
            const std::size_t room = static_cast<std::size_t>(m_columns - m_cursorX + 1);
            const std::size_t limit = std::min(count, i + room);
            std::size_t end = i + 1;
            while (end < limit && IsDisplayable(data[end])) {
                ++end;
            }
            PutRun(data + i, end - i);
            i = end;
        } else {
            WriteByte(data[i]);
            ++i;
        }
    }
}

void ScreenModel::WriteByte(std::uint8_t code) {
    // An Escape makes only a following Escape visible; any other code is
    // acted on as usual, unless Escape shows control characters: then it
    // shows its glyph, End Of Line's too. (Escape Escape is the same both ways.)
    if (m_escapePending && code != atascii::kEscape) {
        m_escapePending = false;
        if (m_escapeShowsControls) {
            PutRun(&code, 1);
            return;
        }
    }
    switch (kActions[code]) {
    case Action::Display:
        PutGlyph(code);
        break;
    case Action::Escape:
        if (m_escapePending) {
            PutGlyph(code);
            m_escapePending = false;
        } else {
            m_escapePending = true;
        }
        break;
    case Action::CursorUp:
        MoveCursor(static_cast<std::uint8_t>(m_cursorX), static_cast<std::uint8_t>(m_cursorY - 1));
        break;
    case Action::CursorDown:
        MoveCursor(static_cast<std::uint8_t>(m_cursorX), static_cast<std::uint8_t>(m_cursorY + 1));
        break;
    case Action::CursorLeft:
        MoveCursor(static_cast<std::uint8_t>(m_cursorX - 1), static_cast<std::uint8_t>(m_cursorY));
        break;
    case Action::CursorRight:
        MoveCursor(static_cast<std::uint8_t>(m_cursorX + 1), static_cast<std::uint8_t>(m_cursorY));
        break;
    case Action::ClearScreen:
        ClearScreen();
        break;
    case Action::Backspace:
        Backspace();
        break;
    case Action::Tab:
        TabForward();
        break;
    case Action::EndOfLine:
        PutGlyph(code);
        break;
    case Action::DeleteLine:
        DeleteLine();
        break;
    case Action::InsertLine:
        InsertLine();
        break;
    case Action::Ignore:
        break;
    case Action::Buzzer:
        // No change on the screen; the renderer sounds the bell.
        ++m_damage.bells;
        break;
    case Action::DeleteChar:
        DeleteChar(m_cursorX, m_cursorY);
        break;
    case Action::InsertChar:
        InsertChar(m_cursorX, m_cursorY);
        break;
    }
}

void ScreenModel::PutGlyph(std::uint8_t code) {
    if (code == atascii::kEndOfLine) {
        NewLine(0, 0);
        MoveCursor(static_cast<std::uint8_t>(m_cursorX), static_cast<std::uint8_t>(m_cursorY));
        return;
    }
    PutRun(&code, 1);
}

void ScreenModel::PutRun(const std::uint8_t* data, std::size_t count) {
    const int start = m_cursorX;
    const int length = static_cast<int>(count);
    std::memcpy(&RowAt(m_cursorY)[static_cast<std::size_t>(start - 1)], data, count);
    m_cursorX += length;
    const int spanEnd = start + length;
    // A code written into the last column wraps at once: the cursor already
    // stands on the next row (and the screen has scrolled) before the next
    // byte arrives.
    if (m_cursorX > m_columns) {
        NewLine(start, spanEnd);
    } else if (!m_repaintPending) {
        InvalidateCells(m_cursorY, start, spanEnd);
    }
    MoveCursor(static_cast<std::uint8_t>(m_cursorX), static_cast<std::uint8_t>(m_cursorY));
}

void ScreenModel::NewLine(int spanStart, int spanEnd) {
    // On the bottom row the scroll repaints everything, the row left included.
    if (spanStart != 0 && !m_repaintPending && m_cursorY != m_rows) {
        InvalidateCells(m_cursorY, spanStart, spanEnd);
    }
    ++m_cursorY;
    m_cursorX = 1;
    if (m_cursorY > m_rows) {
        m_cursorY = m_rows;
        ScrollUp();
    }
}

void ScreenModel::ScrollUp() {
    // The top row leaves the screen for the scrollback.
    KeepInHistory(1);
    const std::uint8_t top = m_order[0];
    std::memmove(&m_order[0], &m_order[1], static_cast<std::size_t>(m_rows - 1));
    m_order[static_cast<std::size_t>(m_rows - 1)] = top;
    RowAt(m_rows).fill(kBlank);
    ++m_damage.scrolls;
}

void ScreenModel::MoveCursor(std::uint8_t column, std::uint8_t row) {
    // Arguments are 8-bit: one step left of column 1 arrives here as 0 and
    // folds to the last column; anything past the end folds to 1.
    m_cursorX = column;
    m_cursorY = row;
    if (m_cursorX == 0) {
        m_cursorX = m_columns;
    }
    if (m_cursorY == 0) {
        m_cursorY = m_rows;
    }
    if (m_cursorX > m_columns) {
        m_cursorX = 1;
    }
    if (m_cursorY > m_rows) {
        m_cursorY = 1;
    }
    m_damage.cursorMoved = true;
}

void ScreenModel::ClearScreen() {
    // Blank rows at the bottom carry nothing worth scrolling back to, and a
    // clear of an already blank screen keeps nothing at all.
    int lastUsed = m_rows;
    while (lastUsed > 0 && RowIsBlank(lastUsed)) {
        --lastUsed;
    }
    for (int row = 1; row <= lastUsed; ++row) {
        KeepInHistory(row);
    }
    for (auto& row : m_cells) {
        row.fill(kBlank);
    }
    RepaintAll();
    MoveCursor(1, 1);
}

bool ScreenModel::RowIsBlank(int row) const {
    // One memcmp rather than a loop of compares: a clear looks at every
    // blank row at the bottom of the screen.
    static constexpr Row kBlankRow = [] {
        Row blank{};
        blank.fill(kBlank);
        return blank;
    }();
    return std::memcmp(RowAt(row).data(), kBlankRow.data(), static_cast<std::size_t>(m_columns)) ==
           0;
}

void ScreenModel::ClearRow(int row) {
    RowAt(row).fill(kBlank);
    RepaintAll();
}

void ScreenModel::InsertLine() {
    const int y = m_cursorY;
    // The old row 24 moves into the store's row 25, below the visible screen.
    const std::uint8_t spare = m_order[kLineOperationRows];
    for (int r = kLineOperationRows; r >= y; --r) {
        m_order[static_cast<std::size_t>(r)] = m_order[static_cast<std::size_t>(r - 1)];
    }
    m_order[static_cast<std::size_t>(y - 1)] = spare;
    ClearRow(y);
    MoveCursor(1, static_cast<std::uint8_t>(y));
    RepaintAll();
}

void ScreenModel::DeleteLine() {
    const int y = m_cursorY;
    // From row 25, below the line operations' rows, only row 24 is cleared.
    if (y <= kLineOperationRows) {
        const std::uint8_t gone = m_order[static_cast<std::size_t>(y - 1)];
        for (int r = y + 1; r <= kLineOperationRows; ++r) {
            m_order[static_cast<std::size_t>(r - 2)] = m_order[static_cast<std::size_t>(r - 1)];
        }
        m_order[kLineOperationRows - 1] = gone;
    }
    ClearRow(kLineOperationRows);
    MoveCursor(1, static_cast<std::uint8_t>(y));
    RepaintAll();
}

void ScreenModel::DeleteChar(int x, int y) {
    auto& row = RowAt(y);
    if (x != m_columns) {
        std::memmove(&row[x - 1], &row[x], static_cast<std::size_t>(m_columns - x));
    }
    row[m_columns - 1] = kBlank;
    InvalidateCells(y, x, m_columns);
}

void ScreenModel::InsertChar(int x, int y) {
    auto& row = RowAt(y);
    // The code in the last visible column is lost.
    if (x < m_columns) {
        std::memmove(&row[x], &row[x - 1], static_cast<std::size_t>(m_columns - x));
    }
    row[x - 1] = kBlank;
    InvalidateCells(y, x, m_columns);
}

void ScreenModel::Backspace() {
    // Backspace never moves to the previous row.
    if (m_cursorX == 1) {
        return;
    }
    const int erased = m_cursorX - 1;
    RowAt(m_cursorY)[static_cast<std::size_t>(erased - 1)] = kBlank;
    MoveCursor(static_cast<std::uint8_t>(erased), static_cast<std::uint8_t>(m_cursorY));
    InvalidateCells(m_cursorY, erased - 1, erased);
}

void ScreenModel::TabForward() {
    const int lastStop = std::max(kNarrowLastTabStop, m_columns);
    if (m_cursorX > lastStop) {
        return;
    }
    const int stop = std::min((m_cursorX / kTabWidth + 1) * kTabWidth, lastStop);
    MoveCursor(static_cast<std::uint8_t>(stop), static_cast<std::uint8_t>(m_cursorY));
}

void ScreenModel::InvalidateCells(int row, int first, int last) {
    if (last < first) {
        return;
    }
    m_damage.AddCells(row, first, last);
}

} // namespace telvora
