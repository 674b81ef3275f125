// The window in 40 and 80 columns, and in full screen.
#include "app/main_window.h"
#include "app/session.h"
#include "program.h"
#include "screen/cell_geometry.h"
#include "screen/crt_screen.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QMenuBar>
#include <QStatusBar>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace telvora;

namespace {

class ScreenWidthTest : public ::testing::Test {
protected:
    bool Checked(const char* name) { return window.Entry(name)->isChecked(); }
    QSize ClientSize() {
        return {window.centralWidget()->width(),
                window.centralWidget()->height() + window.statusBar()->height()};
    }
    void Write(const std::string& text) {
        window.Screen()->WriteBlock(reinterpret_cast<const std::uint8_t*>(text.data()),
                                    text.size());
    }
    // Lets the window system's resizes arrive, until the condition holds.
    template <typename Condition> bool Settles(Condition condition) {
        QDeadlineTimer deadline(5000);
        while (!condition() && !deadline.hasExpired()) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return condition();
    }

    test::TProgram program{Tmain::Sound::Off};
    Tmain& window = program.window;
    TCrtScreen& screen = *window.Screen();
};

TEST_F(ScreenWidthTest, EightyColumnsClearTheScreenAndKeepTheWindowReadableAtEverySize) {
    window.show();
    EXPECT_TRUE(Checked("Columns40"));
    EXPECT_FALSE(Checked("Columns80"));
    Write("READY");
    window.Entry("Columns80")->trigger();
    EXPECT_EQ(window.Session().Columns(), 80);
    EXPECT_TRUE(Checked("Columns80"));
    EXPECT_FALSE(Checked("Columns40"));
    EXPECT_EQ(screen.Cell(1, 1), ' ') << "a change of width clears the screen";
    EXPECT_EQ(screen.CursorX(), 1);
    // Medium: 80 cells of 8 x 16, as wide as 40 columns at Medium.
    QApplication::processEvents();
    EXPECT_EQ(screen.size(), QSize(640, 384));
    EXPECT_EQ(ClientSize(), QSize(643, 401));
    window.Entry("Small1")->trigger();
    QApplication::processEvents();
    EXPECT_EQ(screen.size(), QSize(640, 192));
    EXPECT_EQ(ClientSize(), QSize(643, 209));
    window.Entry("Large1")->trigger();
    QApplication::processEvents();
    EXPECT_EQ(screen.size(), QSize(1280, 576));
    EXPECT_EQ(ClientSize(), QSize(1283, 593));

    // Wrapping after column 80, tabs up to 80, a dump of 80 codes a row.
    Write(std::string(79, '-') + "XY");
    EXPECT_EQ(screen.Cell(80, 1), 'X');
    EXPECT_EQ(screen.Cell(1, 2), 'Y');
    Write(std::string(12, '\x7f'));
    EXPECT_EQ(screen.CursorX(), 80);
    const std::string dump = screen.DumpText();
    EXPECT_EQ(dump.substr(0, dump.find('\n')).size(), 80u * 3 - 1);

    window.Entry("Columns40")->trigger();
    QApplication::processEvents();
    EXPECT_EQ(window.Session().Columns(), 40);
    EXPECT_EQ(screen.size(), QSize(960, 576));
    EXPECT_EQ(ClientSize(), QSize(963, 593));
    // The widths the command line and a directory entry may not ask for.
    EXPECT_FALSE(window.Session().SetColumns(64));
    EXPECT_EQ(window.Session().Columns(), 40);
}

TEST_F(ScreenWidthTest, FullScreenShowsTheLargestWholeScaleCentredOnBlackAndF11Returns) {
    window.show();
    QApplication::processEvents();
    const QSize windowed = screen.size();
    for (int columns : {kNarrowColumns, kWideColumns}) {
        window.Session().SetColumns(columns);
        const QSize windowScreen = screen.size();
        window.Entry("FullScreen1")->trigger();
        ASSERT_TRUE(window.FullScreenOn());
        EXPECT_TRUE(Checked("FullScreen1"));
        QWidget* client = window.centralWidget();
        // Placed once the full-screen size has arrived.
        ASSERT_TRUE(Settles([&] {
            const int delta =
                FullScreenFontDelta(columns, 24, client->width(), client->height(), 255);
            const TCellSize cell = CellSizeFor(columns, delta);
            return window.isFullScreen() && screen.width() == cell.width * columns &&
                   screen.height() == cell.height * 24;
        })) << columns;
        EXPECT_FALSE(window.menuBar()->isVisible());
        EXPECT_FALSE(window.statusBar()->isVisible());
        EXPECT_EQ(client->palette().color(QPalette::Window), QColor(Qt::black));
        const QRect placed = screen.geometry();
        EXPECT_LE(std::abs(placed.left() - (client->width() - placed.right() - 1)), 1);
        EXPECT_LE(std::abs(placed.top() - (client->height() - placed.bottom() - 1)), 1);
        // The whole-number scale: every glyph pixel the same number of pixels.
        EXPECT_EQ(screen.CellWidth() % 8, 0);
        EXPECT_EQ(screen.CellHeight() % 8, 0);

        // F11 on the screen returns to the window at its Size.
        QKeyEvent f11(QEvent::KeyPress, Qt::Key_F11, Qt::NoModifier);
        QCoreApplication::sendEvent(&screen, &f11);
        EXPECT_FALSE(window.FullScreenOn());
        EXPECT_FALSE(Checked("FullScreen1"));
        ASSERT_TRUE(Settles([&] { return !window.isFullScreen(); }));
        EXPECT_TRUE(window.menuBar()->isVisible());
        EXPECT_TRUE(window.statusBar()->isVisible());
        EXPECT_EQ(screen.size(), windowScreen);
        EXPECT_EQ(screen.pos(), QPoint(1, 0));
    }
    window.Session().SetColumns(40);
    EXPECT_EQ(screen.size(), windowed);
}

TEST_F(ScreenWidthTest, ASizeChosenInFullScreenIsTheOneTheWindowReturnsTo) {
    window.show();
    window.SetFullScreen(true);
    ASSERT_TRUE(Settles([&] { return window.isFullScreen(); }));
    window.Entry("Small1")->trigger();
    EXPECT_TRUE(Checked("Small1"));
    // A change of width in full screen is fitted again at once.
    window.Session().SetColumns(80);
    const int delta = FullScreenFontDelta(80, 24, window.centralWidget()->width(),
                                          window.centralWidget()->height(), 255);
    EXPECT_EQ(screen.FontDelta(), delta);
    window.SetFullScreen(false);
    ASSERT_TRUE(Settles([&] { return !window.isFullScreen(); }));
    EXPECT_EQ(screen.size(), QSize(640, 192));
}

} // namespace
