// Random bytes through the screen model, with grid size changes in between.
// Input format: a stream of bytes; the byte 0xF7 followed by two bytes changes
// Columns and Rows (any value, out-of-range ones must be ignored), except that
// 0xF7 0xFF b switches the coalesced repaint on (b odd) or off, and 0xF7 0xFE b
// the Atari's own Escape.
//
// After every byte:
//   - the model agrees, cell for cell, in its cursor and in its Escape state,
//     with the plain screen below, written to be read rather than to be fast;
//   - every visible cell that changed since the damage was last taken lies
//     inside the damage, a moved cursor is reported, and the scroll and bell
//     counts are the ones the plain screen counted.
// The same stream written as blocks must end in the same state and report
// damage that covers what the blocks changed.
#include "screen/screen_model.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace telvora;

namespace {

// The checks themselves add nothing to what the fuzzer should explore, and
// looking at every cell after every byte is most of the run time.
#define NO_COVERAGE __attribute__((no_sanitize("coverage")))

constexpr std::uint8_t kResizeMarker = 0xF7;
constexpr std::uint8_t kRepaintSwitch = 0xFF;
constexpr std::uint8_t kEscapeSwitch = 0xFE;

[[noreturn]] void Fail(const char* what, int column = 0, int row = 0) {
    std::fprintf(stderr, "screen model: %s (column %d, row %d)\n", what, column, row);
    std::abort();
}

NO_COVERAGE void Check(bool ok, const char* what, int column = 0, int row = 0) {
    if (!ok) {
        Fail(what, column, row);
    }
}

// The screen as the user sees it, one code at a time.
class PlainScreen {
public:
    PlainScreen() { BlankAll(); }

    int columns = kStoreColumns;
    int rows = 24;
    int x = 1;
    int y = 1;
    bool escape = false;
    bool literal = false;
    int scrolls = 0;
    int bells = 0;

    std::uint8_t& At(int column, int row) {
        return m_cells[(row - 1) * kStoreColumns + column - 1];
    }
    const std::uint8_t* Row(int row) const { return &m_cells[(row - 1) * kStoreColumns]; }

    void SetSize(int newColumns, int newRows) {
        if (newColumns >= 2 && newColumns <= kStoreColumns) {
            columns = newColumns;
            x = std::min(x, columns);
        }
        if (newRows >= 2 && newRows <= kStoreRows) {
            rows = newRows;
            y = std::min(y, rows);
        }
    }

    void Receive(std::uint8_t code) {
        // After an Escape only a second Escape is shown (with the Atari's own
        // Escape, any code); anything else is acted on as if the Escape had
        // not come.
        if (escape) {
            escape = false;
            if (literal || code == atascii::kEscape) {
                Show(code);
                return;
            }
        } else if (code == atascii::kEscape) {
            escape = true;
            return;
        }
        switch (code) {
        case atascii::kCursorUp:
            y = y == 1 ? rows : y - 1;
            break;
        case atascii::kCursorDown:
            y = y == rows ? 1 : y + 1;
            break;
        case atascii::kCursorLeft:
            x = x == 1 ? columns : x - 1;
            break;
        case atascii::kCursorRight:
            x = x == columns ? 1 : x + 1;
            break;
        case atascii::kClearScreen:
            BlankAll();
            x = 1;
            y = 1;
            break;
        case atascii::kBackspace:
            if (x > 1) {
                --x;
                At(x, y) = kBlank;
            }
            break;
        case atascii::kTab:
            Tab();
            break;
        case atascii::kEndOfLine:
            NextLine();
            break;
        case atascii::kDeleteLine:
            DeleteLine();
            break;
        case atascii::kInsertLine:
            InsertLine();
            break;
        case atascii::kClearTabStop:
        case atascii::kSetTabStop:
            break;
        case atascii::kBuzzer:
            ++bells;
            break;
        case atascii::kDeleteChar:
            for (int c = x; c < columns; ++c) {
                At(c, y) = At(c + 1, y);
            }
            At(columns, y) = kBlank;
            break;
        case atascii::kInsertChar:
            for (int c = columns; c > x; --c) {
                At(c, y) = At(c - 1, y);
            }
            At(x, y) = kBlank;
            break;
        default:
            Show(code);
            break;
        }
    }

private:
    void BlankAll() {
        for (int r = 1; r <= kStoreRows; ++r) {
            BlankRow(r);
        }
    }

    // The code goes under the cursor; after the last column the cursor is on
    // the next line at once.
    void Show(std::uint8_t code) {
        At(x, y) = code;
        if (x == columns) {
            NextLine();
        } else {
            ++x;
        }
    }

    void NextLine() {
        x = 1;
        if (y < rows) {
            ++y;
            return;
        }
        // The bottom row: everything moves up one row, the top row is lost.
        for (int r = 1; r < rows; ++r) {
            CopyRow(r + 1, r);
        }
        BlankRow(rows);
        ++scrolls;
    }

    // Stops at 8, 16, 24, 32 and 40, and on a grid wider than 40 at every
    // eighth column up to its last; past the last stop a tab does nothing. A
    // stop past the right edge of a narrow grid puts the cursor in column 1.
    void Tab() {
        const int last = std::max(40, columns);
        if (x > last) {
            return;
        }
        int stop = x + 1;
        while (stop % 8 != 0) {
            ++stop;
        }
        stop = std::min(stop, last);
        x = stop > columns ? 1 : stop;
    }

    // Line insert and delete work on rows 1..24 of the store, whatever the
    // grid's height: an inserted line pushes row 24 into row 25, a deleted
    // one pulls rows up to 24 and blanks row 24 (even when the cursor is on
    // row 25 of a 25-row grid, which then stays). The cursor goes to column 1.
    void InsertLine() {
        for (int r = kStoreRows; r > y; --r) {
            CopyRow(r - 1, r);
        }
        BlankRow(y);
        x = 1;
    }

    void DeleteLine() {
        for (int r = y; r < 24; ++r) {
            CopyRow(r + 1, r);
        }
        BlankRow(24);
        x = 1;
    }

    void CopyRow(int from, int to) { std::copy_n(&At(1, from), kStoreColumns, &At(1, to)); }

    void BlankRow(int row) { std::fill_n(&At(1, row), kStoreColumns, kBlank); }

    std::uint8_t m_cells[kStoreRows * kStoreColumns];
};

// Whole rows of cells only, so left unchecked by the sanitizers: checked
// (or through memcmp) the compare takes most of the run time.
__attribute__((no_sanitize("coverage", "address", "undefined"))) bool
SameBytes(const std::uint8_t* a, const std::uint8_t* b, int count) {
    bool same = true;
    for (int i = 0; i < count; ++i) {
        same &= a[i] == b[i];
    }
    return same;
}

NO_COVERAGE void CheckSame(const ScreenModel& model, const PlainScreen& plain) {
    Check(model.Columns() == plain.columns && model.Rows() == plain.rows, "grid size");
    Check(model.CursorX() == plain.x && model.CursorY() == plain.y, "cursor", model.CursorX(),
          model.CursorY());
    Check(model.EscapePending() == plain.escape, "escape state");
    for (int row = 1; row <= kStoreRows; ++row) {
        const std::uint8_t* cells = model.RowData(row);
        const std::uint8_t* expected = plain.Row(row);
        if (!SameBytes(cells, expected, kStoreColumns)) {
            for (int column = 1; column <= kStoreColumns; ++column) {
                Check(cells[column - 1] == expected[column - 1], "cell", column, row);
            }
        }
    }
}

NO_COVERAGE void CheckInvariants(const ScreenModel& model) {
    Check(model.Columns() >= 2 && model.Columns() <= kStoreColumns && model.Rows() >= 2 &&
              model.Rows() <= kStoreRows,
          "grid size out of range");
    Check(model.CursorX() >= 1 && model.CursorX() <= model.Columns() && model.CursorY() >= 1 &&
              model.CursorY() <= model.Rows(),
          "cursor outside the grid", model.CursorX(), model.CursorY());
}

// What the renderer last saw: the model when its damage was taken, and the
// plain screen's counts then.
struct Seen {
    std::uint8_t cells[kStoreRows][kStoreColumns] = {};
    int cursorX = 1;
    int cursorY = 1;
    int scrolls = 0;
    int bells = 0;
    // A coalesced repaint was pending at some time since: it repaints all.
    bool repaintPending = false;
};

NO_COVERAGE void TakeDamage(ScreenModel& model, const PlainScreen& plain, bool repaintPending,
                            Seen& seen) {
    model.TakeDamage();
    for (int row = 1; row <= kStoreRows; ++row) {
        std::memcpy(seen.cells[row - 1], model.RowData(row), kStoreColumns);
    }
    seen.cursorX = model.CursorX();
    seen.cursorY = model.CursorY();
    seen.scrolls = plain.scrolls;
    seen.bells = plain.bells;
    seen.repaintPending = repaintPending;
}

NO_COVERAGE void CheckDamage(const ScreenModel& model, const PlainScreen& plain, const Seen& seen) {
    const ScreenDamage& damage = model.Damage();
    Check(damage.scrolls == plain.scrolls - seen.scrolls, "scroll count");
    Check(damage.bells == plain.bells - seen.bells, "bell count");
    if ((model.CursorX() != seen.cursorX || model.CursorY() != seen.cursorY) &&
        !damage.wholeScreen) {
        Check(damage.cursorMoved, "cursor move not reported", model.CursorX(), model.CursorY());
    }
    const std::uint8_t* firstColumn = damage.firstColumn.data();
    const std::uint8_t* lastColumn = damage.lastColumn.data();
    for (int row = 1; row <= kStoreRows; ++row) {
        const int first = firstColumn[row - 1];
        const int last = lastColumn[row - 1];
        Check(first == 0 || (first <= last && last <= kStoreColumns), "malformed span", first, row);
    }
    // A scroll repaints the whole screen, as does a pending coalesced repaint.
    if (damage.wholeScreen || damage.scrolls > 0 || seen.repaintPending) {
        return;
    }
    for (int row = 1; row <= model.Rows(); ++row) {
        const std::uint8_t* now = model.RowData(row);
        const std::uint8_t* before = seen.cells[row - 1];
        if (SameBytes(now, before, model.Columns())) {
            continue;
        }
        const int first = firstColumn[row - 1];
        const int last = lastColumn[row - 1];
        for (int column = 1; column <= model.Columns(); ++column) {
            if (now[column - 1] != before[column - 1]) {
                Check(first != 0 && first <= column && column <= last, "changed cell not damaged",
                      column, row);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ScreenModel bytewise;
    ScreenModel blockwise;
    PlainScreen plain;
    bool repaintPending = false;
    Seen bytewiseSeen;
    Seen blockwiseSeen;
    TakeDamage(bytewise, plain, false, bytewiseSeen);
    TakeDamage(blockwise, plain, false, blockwiseSeen);
    // The renderer takes the damage after every few bytes; how many depends
    // on the input's length so that no input byte is spent on it.
    const std::size_t takeEvery = 1 + size % 5;

    std::vector<std::uint8_t> run;
    auto flushRun = [&] {
        blockwise.Write(run.data(), run.size());
        run.clear();
        CheckInvariants(blockwise);
        CheckSame(blockwise, plain);
        CheckDamage(blockwise, plain, blockwiseSeen);
        TakeDamage(blockwise, plain, repaintPending, blockwiseSeen);
    };
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == kResizeMarker && i + 2 < size) {
            flushRun();
            if (data[i + 1] == kEscapeSwitch) {
                plain.literal = (data[i + 2] & 1) != 0;
                bytewise.SetEscapeShowsControls(plain.literal);
                blockwise.SetEscapeShowsControls(plain.literal);
            } else if (data[i + 1] == kRepaintSwitch) {
                repaintPending = (data[i + 2] & 1) != 0;
                bytewise.SetRepaintPending(repaintPending);
                blockwise.SetRepaintPending(repaintPending);
                bytewiseSeen.repaintPending = bytewiseSeen.repaintPending || repaintPending;
                blockwiseSeen.repaintPending = blockwiseSeen.repaintPending || repaintPending;
            } else {
                const int columns = data[i + 1];
                const int rows = data[i + 2];
                Check(bytewise.SetColumns(columns) == (columns >= 2 && columns <= kStoreColumns),
                      "SetColumns result", columns);
                Check(bytewise.SetRows(rows) == (rows >= 2 && rows <= kStoreRows), "SetRows result",
                      0, rows);
                blockwise.SetColumns(columns);
                blockwise.SetRows(rows);
                plain.SetSize(columns, rows);
            }
            i += 2;
        } else {
            bytewise.WriteByte(data[i]);
            plain.Receive(data[i]);
            run.push_back(data[i]);
        }
        CheckInvariants(bytewise);
        CheckSame(bytewise, plain);
        CheckDamage(bytewise, plain, bytewiseSeen);
        if ((i + 1) % takeEvery == 0) {
            TakeDamage(bytewise, plain, repaintPending, bytewiseSeen);
        }
    }
    flushRun();
    return 0;
}
