// The scrollback view and selection over the scrollback and the screen, the
// rows as text and codes, and the scrollback as a movie that replays it.
#include "screen/history_movie.h"
#include "screen/row_text.h"
#include "screen/screen_model.h"
#include "screen/screen_view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace telvora;

namespace {

std::vector<std::uint8_t> Codes(const std::string& text) {
    return {text.begin(), text.end()};
}

// A model that has scrolled: lines "L0".."L{n-1}", each ended by End Of Line.
void WriteLines(ScreenModel& model, int count) {
    for (int i = 0; i < count; ++i) {
        const std::string line = "L" + std::to_string(i) + "\x9b";
        model.Write(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
    }
}

std::string Trimmed(const std::vector<std::uint8_t>& codes) {
    std::string text(codes.begin(), codes.end());
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

TEST(ScreenView, ScrolledBackItStaysOnItsLinesWhileOutputArrives) {
    ScreenModel model;
    WriteLines(model, 40); // 40 lines on 24 rows: 17 have scrolled away
    ScreenView view;
    TLineSpan span = LineSpanOf(model);
    EXPECT_EQ(span.kept, 17U);
    EXPECT_EQ(view.Back(span), 0);
    EXPECT_EQ(Trimmed(LineCodes(model, view.TopLine(span))), "L17");

    view.Scroll(5, span);
    EXPECT_EQ(view.Back(span), 5);
    EXPECT_EQ(Trimmed(LineCodes(model, view.TopLine(span))), "L12");
    // More output: the view keeps its lines and is farther back.
    WriteLines(model, 3);
    span = LineSpanOf(model);
    EXPECT_EQ(view.Back(span), 8);
    EXPECT_EQ(Trimmed(LineCodes(model, view.TopLine(span))), "L12");

    // Never beyond the oldest row kept, nor past the live screen.
    view.Scroll(1000, span);
    EXPECT_EQ(view.Back(span), 20);
    EXPECT_EQ(Trimmed(LineCodes(model, view.TopLine(span))), "L0");
    view.Scroll(-1000, span);
    EXPECT_TRUE(view.Live());
    EXPECT_EQ(view.Back(span), 0);
}

TEST(ScreenView, ASelectionAcrossTheScrollbackBoundaryTakesWhatOtherTerminalsTake) {
    ScreenModel model;
    WriteLines(model, 30); // lines 0..6 in the scrollback, 7.. on the screen
    const TLineSpan span = LineSpanOf(model);
    ScreenView view;
    // From column 2 of the last scrollback line to column 2 of the second
    // screen line, given backwards.
    view.Select({span.FirstScreenLine() + 1, 2}, {span.FirstScreenLine() - 1, 2});
    const TRows rows = SelectedRows(model, view);
    ASSERT_EQ(rows.size(), 3U);
    EXPECT_EQ(Trimmed(rows[0]), "6");
    EXPECT_EQ(Trimmed(rows[1]), "L7");
    EXPECT_EQ(rows[2], Codes("L8"));
    EXPECT_TRUE(view.Selected(span.FirstScreenLine(), 40, 40));
    EXPECT_FALSE(view.Selected(span.FirstScreenLine() + 1, 3, 40));
    view.ClearSelection();
    EXPECT_TRUE(SelectedRows(model, view).empty());
}

TEST(ScreenView, RowsBecomeTextAndCodesWithTheirInverseVideo) {
    const TRows rows = {Codes("AB  "), {'C', 160, ' '}, Codes("    ")};
    EXPECT_EQ(RowsAsText(rows), "AB\nC\n\n");
    EXPECT_EQ(RowsAsCodes(rows), (std::vector<std::uint8_t>{'A', 'B', 155, 'C', 160, 155}));
}

TEST(ScreenView, ATextFileIsMappedUnlessItIsAlreadyAtascii) {
    const TextAsAtascii atascii = FileAsAtascii("HELLO\x9bTHERE\x9b");
    EXPECT_EQ(atascii.codes, Codes("HELLO\x9bTHERE\x9b"));
    EXPECT_EQ(atascii.skipped, 0U);
    const TextAsAtascii text = FileAsAtascii("Hi\r\nthere\n");
    EXPECT_EQ(text.codes, Codes("Hi\x9bthere\x9b"));
    // An End Of Line code beside a LF is no ATASCII file.
    EXPECT_EQ(FileAsAtascii("a\x9b\n").codes.back(), 155);
}

TEST(ScreenView, TheScrollbackAsAMovieReplaysTheScreen) {
    ScreenModel model;
    model.SetEscapeShowsControls(true);
    WriteLines(model, 30);
    // A full-width row, an inverse row and a control glyph shown by Escape.
    const std::string wide(40, 'W');
    model.Write(reinterpret_cast<const std::uint8_t*>(wide.data()), wide.size());
    const std::uint8_t extra[] = {0xC9, 0xCE, 27, 28, 'x', 155, 'E', 'N', 'D'};
    model.Write(extra, sizeof extra);
    TRows rows;
    const TLineSpan span = LineSpanOf(model);
    for (TLine line = span.FirstKept(); line <= span.LastLine(); ++line) {
        rows.push_back(LineCodes(model, line));
    }
    const std::vector<std::uint8_t> movie = RowsToMovie(rows, model.Columns());
    ScreenModel replay;
    replay.SetEscapeShowsControls(true);
    replay.Write(movie.data(), movie.size());
    for (int row = 1; row <= model.Rows(); ++row) {
        EXPECT_EQ(std::vector<std::uint8_t>(replay.RowData(row), replay.RowData(row) + 40),
                  std::vector<std::uint8_t>(model.RowData(row), model.RowData(row) + 40))
            << "row " << row;
    }
}

} // namespace
