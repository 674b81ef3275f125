#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace telvora {

class ScreenModel;

// A line of what the screen has shown: the rows that went into the
// scrollback and the rows of the screen, counted from the first row ever
// kept. The numbers never change while output arrives, so a view or a
// selection that holds them stays on its cells.
using TLine = std::int64_t;

struct TCellPos {
    TLine line = 0;
    int column = 1; // 1-based

    bool operator==(const TCellPos&) const = default;
    bool operator<(const TCellPos& other) const {
        return line != other.line ? line < other.line : column < other.column;
    }
};

// Where the lines are now: `pushed` rows have ever gone into the scrollback,
// the last `kept` of them are still there, and the screen has `rows` rows.
struct TLineSpan {
    std::uint64_t pushed = 0;
    std::size_t kept = 0;
    int rows = 24;

    TLine FirstKept() const { return static_cast<TLine>(pushed - kept); }
    TLine FirstScreenLine() const { return static_cast<TLine>(pushed); }
    TLine LastLine() const { return static_cast<TLine>(pushed) + rows - 1; }
};

// Which lines the screen control shows, and which cells are selected. Live,
// it shows the screen; scrolled back, it keeps showing the same lines while
// output arrives, until it is scrolled or sent back to the live screen.
class ScreenView {
public:
    // How many rows back from the live screen the view is now (0 = live).
    int Back(const TLineSpan& span) const;
    // The line shown in the view's top row.
    TLine TopLine(const TLineSpan& span) const;
    // Moves the view rows back (negative: forward), within what is kept.
    void Scroll(int rows, const TLineSpan& span);
    void ReturnToLive() { m_live = true; }
    bool Live() const { return m_live; }

    // A selection from one cell to another, in either order, as other
    // terminals make it: the rest of the first row, whole rows between, the
    // last row up to its cell.
    void Select(TCellPos from, TCellPos to);
    void ClearSelection() { m_selecting = false; }
    bool HasSelection() const { return m_selecting; }
    // First and last cell, in order.
    std::pair<TCellPos, TCellPos> Selection() const;
    bool Selected(TLine line, int column, int columns) const;

private:
    bool m_live = true;
    TLine m_top = 0; // while not live
    bool m_selecting = false;
    TCellPos m_from;
    TCellPos m_to;
};

// The codes of one line, the shown columns of it: a scrollback row or a
// screen row; blanks for a line no longer kept or not yet shown.
std::vector<std::uint8_t> LineCodes(const ScreenModel& model, TLine line);
// Where the model's lines are now.
TLineSpan LineSpanOf(const ScreenModel& model);
// The selected cells, row by row: the part of each line the selection takes.
std::vector<std::vector<std::uint8_t>> SelectedRows(const ScreenModel& model,
                                                    const ScreenView& view);

} // namespace telvora
