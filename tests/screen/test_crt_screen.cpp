#include "screen/crt_screen.h"
#include "screen/glyph_table.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>

#include <atomic>
#include <string>
#include <thread>

using namespace telvora;

namespace {

constexpr QRgb kPaper = 0xFF7161FC;         // background 0xFC6171 as red, green, blue
constexpr QRgb kInk = 0xFFD1FFFF;           // text 0xFFFFD1
constexpr QRgb kCursorOnInk = 0xFF7F61FC;   // (NOT ink) OR (brush AND source)
constexpr QRgb kCursorOnPaper = 0xFFDFFFFF; // (NOT paper) OR (brush AND source)

class CrtScreenTest : public ::testing::Test {
protected:
    CrtScreenTest() {
        screen.SetColumns(40);
        screen.SetRows(24);
        screen.SetFontDelta(8);
    }

    void Write(std::initializer_list<int> codes) {
        for (int code : codes) {
            screen.WriteByte(static_cast<std::uint8_t>(code));
        }
    }

    // A row of `first`, `dashes` dashes and `last`.
    void WriteRow(std::uint8_t first, int dashes, std::uint8_t last) {
        screen.WriteByte(first);
        for (int i = 0; i < dashes; ++i) {
            screen.WriteByte('-');
        }
        screen.WriteByte(last);
    }

    QImage Grab() { return screen.grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // Every pixel of the cell at (column, row): `ink` where the glyph of
    // `code` has a bit, `paper` elsewhere.
    void ExpectCell(const QImage& image, int column, int row, std::uint8_t code, QRgb ink = kInk,
                    QRgb paper = kPaper) {
        const int width = screen.CellWidth();
        const int height = screen.CellHeight();
        const int across = width / TCrtScreen::kGlyphSize;
        const int down = height / TCrtScreen::kGlyphSize;
        const GlyphRows glyph = AtasciiGlyph(code);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const bool bit = glyph[static_cast<std::size_t>(y / down)] & (0x80 >> (x / across));
                const QRgb pixel = image.pixel((column - 1) * width + x, (row - 1) * height + y);
                ASSERT_EQ(pixel, bit ? ink : paper)
                    << "code " << int(code) << " pixel " << x << "," << y;
            }
        }
    }
    // Scrolled back, each row is fitted into the width left of the scroll
    // bar: the glyph of a row of rowColumns columns, sampled at the middle of
    // each of its pixels.
    void ExpectFittedGlyph(const QImage& image, int column, int row, int rowColumns,
                           std::uint8_t code) {
        const double fitted = screen.width() - ScrollBar().width();
        const double left = std::floor((column - 1) * fitted / rowColumns);
        const double width = std::floor(column * fitted / rowColumns) - left;
        const GlyphRows glyph = AtasciiGlyph(code);
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                const bool ink = glyph[static_cast<std::size_t>(y)] & (0x80 >> x);
                ASSERT_EQ(image.pixel(static_cast<int>(left + (x + 0.5) * width / 8),
                                      (row - 1) * screen.CellHeight() +
                                          (2 * y + 1) * screen.CellHeight() / 16),
                          ink ? kInk : kPaper)
                    << "code " << int(code) << " column " << column << " pixel " << x << "," << y;
            }
        }
    }
    // A left-button press, drag or release at `at`.
    void Mouse(QEvent::Type type, QPointF at, Qt::MouseButtons buttons = Qt::LeftButton) {
        QMouseEvent event(type, at, at, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(&screen, &event);
    }
    QWidget& ScrollBar() { return *screen.findChild<QWidget*>(QStringLiteral("ScrollBack")); }
    // The cells only: drawing the scroll bar brings in Qt's own worker threads.
    QImage GrabCells() {
        const QRect cells(0, 0, ScrollBar().x(), screen.height());
        return screen.grab(cells).toImage().convertToFormat(QImage::Format_RGB32);
    }

    TCrtScreen screen;
};

// Cells are whole multiples of the glyph: square at 40 columns, half as wide
// as high at 80 (never narrower than the glyph, each glyph pixel equally
// wide), so the window keeps its width from Medium up; back at 40 they are
// square again.
TEST_F(CrtScreenTest, CellsFollowColumnsAndFontDeltaAndKeepEveryGlyphPixel) {
    const struct {
        int columns;
        int delta;
        QSize cell;
        QSize screen;
    } sizes[] = {{40, 0, {8, 8}, {320, 192}},    {40, 8, {16, 16}, {640, 384}},
                 {40, 16, {24, 24}, {960, 576}}, {80, 0, {8, 8}, {640, 192}},
                 {80, 8, {8, 16}, {640, 384}},   {80, 16, {16, 24}, {1280, 576}},
                 {40, 16, {24, 24}, {960, 576}}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(testing::Message() << size.columns << " columns, delta " << size.delta);
        screen.SetColumns(size.columns);
        screen.SetFontDelta(size.delta);
        EXPECT_EQ(QSize(screen.CellWidth(), screen.CellHeight()), size.cell);
        EXPECT_EQ(screen.size(), size.screen);
        Write({125, 'A', 0x11, 0x12});
        WriteRow('-', size.columns - 5, 'g');
        Write({'Z'}); // 'g' in the last column, 'Z' wrapped to row 2
        const QImage image = Grab();
        ASSERT_EQ(image.size(), screen.size());
        ExpectCell(image, 1, 1, 'A');
        ExpectCell(image, 2, 1, 0x11);
        ExpectCell(image, 3, 1, 0x12);
        ExpectCell(image, size.columns, 1, 'g');
        ExpectCell(image, 1, 2, 'Z');
        ExpectCell(image, 1, 3, ' ');
    }
}

// Inverse codes, and the cursor drawn by combining its brush with the cell.
TEST_F(CrtScreenTest, InverseCodesAndTheCursorColourTheirCells) {
    const struct {
        const char* name;
        std::initializer_list<int> codes;
        int cursor;
        int column;
        std::uint8_t glyph;
        QRgb ink;
        QRgb paper;
    } cells[] = {
        {"an inverse code shows the inverse glyph", {125, 0xC1, 0xA0}, 3, 1, 'A', kPaper, kInk},
        {"an inverse space is solid", {125, 0xC1, 0xA0}, 3, 2, 0xA0, kInk, kInk},
        {"on a blank cell it is a solid block", {125, 'A'}, 2, 2, ' ', kInk, kInk},
        {"on a character it inverts it", {125, 'A', 30}, 1, 1, 'A', kCursorOnInk, kCursorOnPaper},
        {"on a solid block it turns back towards the paper",
         {125, 0xA0, 30},
         1,
         1,
         0xA0,
         kCursorOnInk,
         kCursorOnInk},
    };
    for (const auto& cell : cells) {
        SCOPED_TRACE(cell.name);
        Write(cell.codes);
        ASSERT_EQ(screen.CursorX(), cell.cursor);
        ExpectCell(Grab(), cell.column, 1, cell.glyph, cell.ink, cell.paper);
    }
}

TEST_F(CrtScreenTest, OwnerDrawPaintsNothingAndKeepsItsSize) {
    screen.show();
    screen.SetOwnerDraw(true);
    screen.resize(100, 50);
    EXPECT_EQ(screen.size(), QSize(100, 50));
    Write({'A'});
    QImage image(screen.size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    screen.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_EQ(image.pixel(0, 0), QColor(Qt::magenta).rgb());
    EXPECT_EQ(image.pixel(50, 25), QColor(Qt::magenta).rgb());
}

TEST_F(CrtScreenTest, OutsideResizeSnapsBack) {
    screen.show();
    screen.resize(100, 100);
    QApplication::processEvents();
    EXPECT_EQ(screen.size(), QSize(640, 384));
}

TEST_F(CrtScreenTest, TwentyScrollsMergeAndRepaintOnce) {
    screen.show();
    QApplication::processEvents();
    for (int i = 0; i < 23; ++i) {
        Write({155});
    }
    ASSERT_EQ(screen.CursorY(), 24);
    ASSERT_FALSE(screen.ScrollRepaintQueued());
    for (int i = 1; i <= 19; ++i) {
        Write({155});
        EXPECT_TRUE(screen.ScrollRepaintQueued());
        EXPECT_EQ(screen.CoalescedScrolls(), i - 1);
        EXPECT_EQ(screen.RepaintPending(), i > 1);
    }
    Write({155});
    EXPECT_FALSE(screen.ScrollRepaintQueued());
    EXPECT_FALSE(screen.RepaintPending());
    EXPECT_EQ(screen.CoalescedScrolls(), 0);
    // The next scroll starts a new round.
    Write({155});
    EXPECT_TRUE(screen.ScrollRepaintQueued());
    QApplication::processEvents();
    EXPECT_FALSE(screen.ScrollRepaintQueued());
    EXPECT_FALSE(screen.RepaintPending());
}

TEST_F(CrtScreenTest, ScrolledPictureIsRepainted) {
    screen.show();
    Write({125, 'T', 155});
    for (int i = 0; i < 23; ++i) {
        Write({'x', 155});
    }
    QApplication::processEvents();
    const QImage image = Grab();
    ExpectCell(image, 1, 1, 'x');
    ExpectCell(image, 1, 23, 'x');
    ExpectCell(image, 1, 24, ' ', kInk, kInk); // the cursor
}

TEST_F(CrtScreenTest, TabAndArrowsReachTheScreenInsteadOfMovingFocus) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* edit = new QLineEdit;
    auto* inner = new TCrtScreen;
    layout->addWidget(edit);
    layout->addWidget(inner);
    window.show();
    inner->setFocus();
    QApplication::processEvents();
    std::vector<int> keys;
    QObject::connect(inner, &TCrtScreen::OnKeyDown,
                     [&](QKeyEvent* event) { keys.push_back(event->key()); });
    const std::vector<int> sent{Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Left, Qt::Key_Return,
                                Qt::Key_Escape};
    for (int key : sent) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(inner, &press);
    }
    EXPECT_EQ(keys, sent);
    EXPECT_NE(QApplication::focusWidget(), edit);
}

TEST_F(CrtScreenTest, BuzzerSignalsWithoutChangingTheScreen) {
    int buzzes = 0;
    QObject::connect(&screen, &TCrtScreen::Buzzer, [&] { ++buzzes; });
    Write({125, 'A', 253});
    EXPECT_EQ(buzzes, 1);
    EXPECT_EQ(screen.CursorX(), 2);
    EXPECT_EQ(screen.Cell(1, 1), 'A');
}

// A connection thread writes while the user-interface thread keeps painting.
TEST_F(CrtScreenTest, WorkerThreadWritesWhileTheScreenPaints) {
    screen.show();
    std::atomic<bool> done{false};
    std::thread writer([&] {
        const std::string text = "ATASCII FROM A WORKER THREAD ";
        for (int i = 0; i < 30000; ++i) {
            screen.WriteByte(
                static_cast<std::uint8_t>(text[static_cast<std::size_t>(i) % text.size()]));
            if (i % 211 == 0) {
                screen.WriteByte(155);
            }
        }
        const std::uint8_t tail[] = {125, 'D', 'O', 'N', 'E', 155, 0xC1};
        screen.WriteBlock(tail, sizeof tail);
        done = true;
    });
    QElapsedTimer timer;
    timer.start();
    while (!done && timer.elapsed() < 60000) {
        QApplication::processEvents();
        screen.grab();
    }
    writer.join();
    ASSERT_TRUE(done);
    QApplication::processEvents();
    EXPECT_EQ(screen.Cell(1, 1), 'D');
    EXPECT_EQ(screen.Cell(4, 1), 'E');
    EXPECT_EQ(screen.Cell(1, 2), 0xC1);
    EXPECT_EQ(screen.CursorX(), 2);
    EXPECT_EQ(screen.CursorY(), 2);
    const QImage image = Grab();
    ExpectCell(image, 1, 1, 'D');
    ExpectCell(image, 1, 2, 'A', kPaper, kInk);
}

// Lines "L0".."L{count-1}", each ended by End Of Line.
void WriteLines(TCrtScreen& screen, int first, int count) {
    for (int i = first; i < first + count; ++i) {
        const std::string line = "L" + std::to_string(i) + "\x9b";
        screen.WriteBlock(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
    }
}

// Rows kept while the screen had 40 columns show blanks past column 40 when
// the view goes back to them in 80 columns.
TEST_F(CrtScreenTest, NarrowRowsInTheScrollbackEndInBlanksOnAWideScreen) {
    WriteLines(screen, 0, 30); // 7 rows of 40 columns scroll away
    Write({125});
    screen.SetColumns(80);
    screen.ScrollView(screen.ScrollbackRows());
    const QImage image = GrabCells();
    ExpectFittedGlyph(image, 1, 1, 80, 'L');
    ExpectFittedGlyph(image, 2, 1, 80, '0');
    for (int column : {41, 60, 80}) {
        ExpectFittedGlyph(image, column, 1, 80, ' ');
    }
}

// A row kept at 80 columns shows whole on a 40-column screen, and the scroll
// bar covers no column of any row.
TEST_F(CrtScreenTest, ScrolledBackWideRowsShowWholeAndTheScrollBarCoversNoColumn) {
    screen.SetColumns(80);
    WriteRow('W', 78, 'X');
    Write({125}); // cleared as a change of width clears it: into the scrollback
    screen.SetColumns(40);
    WriteRow('N', 38, 'Z');
    screen.ScrollView(screen.ScrollbackRows());
    const QImage image = GrabCells();
    ExpectFittedGlyph(image, 1, 1, 80, 'W');
    ExpectFittedGlyph(image, 80, 1, 80, 'X');
    // The screen's own row, lower in the view, fitted the same way.
    const int screenRow = screen.ScrollbackRows() + 1;
    ASSERT_LE(screenRow, screen.Rows());
    ExpectFittedGlyph(image, 40, screenRow, 40, 'Z');

    // A drag from the wide row's 79th cell to its last selects both.
    const int fitted = ScrollBar().x();
    Mouse(QEvent::MouseButtonPress, QPointF(78.5 * fitted / 80, 2));
    Mouse(QEvent::MouseMove, QPointF(fitted - 1, 3));
    const auto rows = screen.SelectedRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<std::uint8_t>{'-', 'X'}));
}

TEST_F(CrtScreenTest, TheScrollbackViewShowsOlderRowsAndStaysPutWhileOutputArrives) {
    int lastBack = -1;
    QObject::connect(&screen, &TCrtScreen::ViewChanged, [&](int back, int) { lastBack = back; });
    WriteLines(screen, 0, 40); // 17 rows scroll away
    EXPECT_EQ(screen.ScrollbackRows(), 17);
    EXPECT_EQ(screen.ViewBack(), 0);
    screen.ScrollView(10);
    EXPECT_EQ(lastBack, 10);
    auto* bar = screen.findChild<QWidget*>(QStringLiteral("ScrollBack"));
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->isHidden()) << "the scroll bar shows while the view is back";
    // The top row shows "L7", the first line 10 rows back.
    QImage image = GrabCells();
    ExpectFittedGlyph(image, 1, 1, 40, 'L');
    ExpectFittedGlyph(image, 2, 1, 40, '7');

    WriteLines(screen, 40, 5);
    EXPECT_EQ(screen.ViewBack(), 15) << "new rows went by below; the view stays on its lines";
    EXPECT_EQ(lastBack, 15);
    image = GrabCells();
    ExpectFittedGlyph(image, 2, 1, 40, '7');

    // One wheel notch forward moves three rows.
    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&screen, &wheel);
    EXPECT_EQ(screen.ViewBack(), 12);
    screen.ReturnToLive();
    EXPECT_EQ(screen.ViewBack(), 0);
    EXPECT_TRUE(bar->isHidden());
    screen.ClearScrollback();
    EXPECT_EQ(screen.ScrollbackRows(), 0);
}

TEST_F(CrtScreenTest, ADragSelectsCellsAcrossRowsAndTheSelectionIsDrawnInverted) {
    WriteLines(screen, 0, 3); // L0, L1, L2 on rows 1..3
    const int cell = screen.CellWidth();
    const auto centre = [&](int column, int row) {
        return QPointF((column - 1) * cell + cell / 2, (row - 1) * cell + cell / 2);
    };
    Mouse(QEvent::MouseButtonPress, centre(2, 1));
    Mouse(QEvent::MouseMove, centre(2, 3));
    Mouse(QEvent::MouseButtonRelease, centre(2, 3), Qt::NoButton);
    ASSERT_TRUE(screen.HasSelection());
    const auto rows = screen.SelectedRows();
    ASSERT_EQ(rows.size(), 3U);
    EXPECT_EQ(rows[0].front(), '0');
    EXPECT_EQ(rows[0].size(), 39U);
    EXPECT_EQ(rows[2], (std::vector<std::uint8_t>{'L', '2'}));
    const QImage image = Grab();
    ExpectCell(image, 2, 1, '0', kPaper, kInk);
    ExpectCell(image, 1, 1, 'L');
    // Output after it: the selection stays on its cells.
    WriteLines(screen, 3, 1);
    EXPECT_EQ(screen.SelectedRows()[2], (std::vector<std::uint8_t>{'L', '2'}));
    screen.SelectAll();
    EXPECT_EQ(screen.SelectedRows().size(), 24U);
    screen.ClearSelection();
    EXPECT_FALSE(screen.HasSelection());
}

} // namespace
