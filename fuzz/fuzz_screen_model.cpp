// Random bytes through the screen model, with grid size changes in between.
// Input format: a stream of bytes; the byte 0xF7 followed by two bytes changes
// Columns and Rows (any value, out-of-range ones must be ignored). After every
// byte the cursor must lie inside the visible grid. The same stream written as
// one block must end in the same state.
#include "screen/screen_model.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace telvora;

namespace {

constexpr std::uint8_t kResizeMarker = 0xF7;

void CheckInvariants(const ScreenModel& model) {
    if (model.Columns() < 2 || model.Columns() > kStoreColumns || model.Rows() < 2 ||
        model.Rows() > kStoreRows || model.CursorX() < 1 || model.CursorX() > model.Columns() ||
        model.CursorY() < 1 || model.CursorY() > model.Rows()) {
        std::abort();
    }
}

bool SameState(const ScreenModel& a, const ScreenModel& b) {
    if (a.CursorX() != b.CursorX() || a.CursorY() != b.CursorY() ||
        a.EscapePending() != b.EscapePending()) {
        return false;
    }
    for (int row = 1; row <= kStoreRows; ++row) {
        for (int column = 1; column <= kStoreColumns; ++column) {
            if (a.Cell(column, row) != b.Cell(column, row)) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ScreenModel bytewise;
    ScreenModel blockwise;
    std::vector<std::uint8_t> run;
    auto flushRun = [&] {
        blockwise.Write(run.data(), run.size());
        run.clear();
    };
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == kResizeMarker && i + 2 < size) {
            flushRun();
            const int columns = data[i + 1];
            const int rows = data[i + 2];
            bytewise.SetColumns(columns);
            bytewise.SetRows(rows);
            blockwise.SetColumns(columns);
            blockwise.SetRows(rows);
            i += 2;
        } else {
            bytewise.WriteByte(data[i]);
            run.push_back(data[i]);
        }
        CheckInvariants(bytewise);
    }
    flushRun();
    CheckInvariants(blockwise);
    if (!SameState(bytewise, blockwise)) {
        std::abort();
    }
    return 0;
}
