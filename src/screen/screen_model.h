#pragma once

#include "screen/scrollback.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace telvora {

// The size of the cell store. Only the top-left Columns x Rows cells are shown;
// the store itself never changes size.
inline constexpr int kStoreColumns = 80;
inline constexpr int kStoreRows = 25;

inline constexpr std::uint8_t kBlank = 32;

// ATASCII screen-control codes.
namespace atascii {
inline constexpr std::uint8_t kEscape = 27;
inline constexpr std::uint8_t kCursorUp = 28;
inline constexpr std::uint8_t kCursorDown = 29;
inline constexpr std::uint8_t kCursorLeft = 30;
inline constexpr std::uint8_t kCursorRight = 31;
inline constexpr std::uint8_t kClearScreen = 125;
inline constexpr std::uint8_t kBackspace = 126;
inline constexpr std::uint8_t kTab = 127;
inline constexpr std::uint8_t kEndOfLine = 155;
inline constexpr std::uint8_t kDeleteLine = 156;
inline constexpr std::uint8_t kInsertLine = 157;
inline constexpr std::uint8_t kClearTabStop = 158;
inline constexpr std::uint8_t kSetTabStop = 159;
inline constexpr std::uint8_t kSolidBlock = 160;
inline constexpr std::uint8_t kBuzzer = 253;
inline constexpr std::uint8_t kDeleteChar = 254;
inline constexpr std::uint8_t kInsertChar = 255;
} // namespace atascii

// Whether the code shows its glyph when received (not a control code).
bool ShownAsGlyph(std::uint8_t code);

// What the model changed since the renderer last looked. The model only
// records; the renderer decides what to paint and when.
struct ScreenDamage {
    // Per store row (index 0 = row 1): the 1-based column span to repaint;
    // firstColumn 0 means the row is clean.
    std::array<std::uint8_t, kStoreRows> firstColumn{};
    std::array<std::uint8_t, kStoreRows> lastColumn{};
    bool wholeScreen = false; // line operations and clearing
    bool cursorMoved = false;
    int scrolls = 0;
    int bells = 0;

    void AddCells(int row, int first, int last);
    bool Empty() const;
};

// The ATASCII screen: an 80x25 cell store, the cursor and the Escape state,
// and WriteByte, which shows one received code or acts on it.
// Not thread-safe: SharedScreen adds the lock.
class ScreenModel {
public:
    ScreenModel();

    void WriteByte(std::uint8_t code);
    // The same as WriteByte for each byte, with a faster path for runs of
    // displayable codes.
    void Write(const std::uint8_t* data, std::size_t count);

    int Columns() const { return m_columns; }
    int Rows() const { return m_rows; }
    // Values outside 2..80 (columns) and 2..25 (rows) are ignored; the cursor
    // is pulled back inside the new grid. Returns whether the value was taken.
    bool SetColumns(int columns);
    bool SetRows(int rows);

    int CursorX() const { return m_cursorX; }
    int CursorY() const { return m_cursorY; }
    bool EscapePending() const { return m_escapePending; }
    // Off (the default): after an Escape only a second Escape is shown, and
    // any other code acts as usual. On, as on the Atari itself: the code
    // after an Escape, whatever it is, shows its glyph and advances.
    void SetEscapeShowsControls(bool on) { m_escapeShowsControls = on; }
    bool EscapeShowsControls() const { return m_escapeShowsControls; }

    // 1-based column and row of the store (1..80, 1..25).
    std::uint8_t Cell(int column, int row) const { return RowAt(row)[column - 1]; }
    const std::uint8_t* RowData(int row) const { return RowAt(row).data(); }

    // While a coalesced full repaint is pending, per-cell damage is not recorded.
    void SetRepaintPending(bool pending) { m_repaintPending = pending; }

    const ScreenDamage& Damage() const { return m_damage; }
    ScreenDamage TakeDamage();

    // Wipes the screen; its rows down to the last one with anything on it
    // go into the scrollback first.
    void ClearScreen();

    // The rows that scrolled off the top, and the rows of cleared screens.
    // The model owns them, so they share the lock that guards the cells and
    // keeping a row costs a scroll one copy rather than a call out.
    const Scrollback& History() const { return m_history; }
    Scrollback& History() { return m_history; }

private:
    void PutGlyph(std::uint8_t code);
    void PutRun(const std::uint8_t* data, std::size_t count);
    void NewLine(int spanStart, int spanEnd);
    void MoveCursor(std::uint8_t column, std::uint8_t row);
    void ScrollUp();
    void ClearRow(int row);
    void KeepInHistory(int row) { m_history.Push(RowAt(row), static_cast<std::size_t>(m_columns)); }
    bool RowIsBlank(int row) const;
    void InsertLine();
    void DeleteLine();
    void InsertChar(int x, int y);
    void DeleteChar(int x, int y);
    void Backspace();
    void TabForward();
    void InvalidateCells(int row, int first, int last);
    void RepaintAll() { m_damage.wholeScreen = true; }

    using Row = std::array<std::uint8_t, kStoreColumns>;
    // Row-major, so that a scroll is one block move and a run of text one copy.
    // The rows stay where they are in the store; m_order says which store row
    // is shown at each row of the screen, so that a scroll or a line
    // operation moves 25 indexes instead of 2,000 bytes.
    std::array<Row, kStoreRows> m_cells{};
    std::array<std::uint8_t, kStoreRows> m_order = [] {
        std::array<std::uint8_t, kStoreRows> order{};
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = static_cast<std::uint8_t>(i);
        }
        return order;
    }();
    Row& RowAt(int row) { return m_cells[m_order[static_cast<std::size_t>(row - 1)]]; }
    const Row& RowAt(int row) const { return m_cells[m_order[static_cast<std::size_t>(row - 1)]]; }
    int m_columns = kStoreColumns;
    int m_rows = 24;
    int m_cursorX = 1;
    int m_cursorY = 1;
    bool m_escapePending = false;
    bool m_escapeShowsControls = false;
    bool m_repaintPending = false;
    ScreenDamage m_damage;
    Scrollback m_history;
};

} // namespace telvora
