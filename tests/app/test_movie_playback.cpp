#include "app/main_window.h"
#include "app/menu_status.h"
#include "common/message_box.h"
#include "common/qt_text.h"
#include "connection/play_atascii.h"
#include "program.h"
#include "qt_event_wait.h"
#include "screen/crt_screen.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <thread>

using namespace telvora;

namespace {

class MoviePlaybackTest : public ::testing::Test {
protected:
    MoviePlaybackTest() { SetMessagesToStandardError(true); }

    QString Movie(const std::string& name, const std::string& bytes) {
        const QString path = m_dir.filePath(QString::fromStdString(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return path;
    }
    bool Play(const std::string& name, const std::string& bytes, const char* speed = nullptr) {
        if (speed != nullptr) {
            SetSpeed(speed);
        }
        return window.Session().PlayMovie(FileNameToSystem(Movie(name, bytes)));
    }
    void SetSpeed(const char* entry) { window.Entry(entry)->trigger(); }
    bool Playing() { return window.Session().Player() != nullptr; }
    bool WaitUntilEnded() {
        return ProcessEventsUntil([&] { return !Playing(); });
    }
    std::uint8_t Cell(int column, int row) { return window.Screen()->Cell(column, row); }
    void ExpectMenus(bool playing) {
        EXPECT_EQ(window.Entry("M_PlayMovie")->isEnabled(), !playing);
        EXPECT_EQ(window.Entry("M_StopMovie")->isEnabled(), playing);
        EXPECT_FALSE(window.DownloadMenu()->isEnabled());
    }

    QTemporaryDir m_dir;
    test::TProgram program;
    Tmain& window = program.window;
};

// Answers the open dialog that "&Play ATASCII Movie" is about to show.
void AnswerOpenDialog(const std::function<void(QFileDialog&)>& answer) {
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr) << "no open dialog";
        answer(*dialog);
    });
}

TEST_F(MoviePlaybackTest, OpenDialogStartsInTheMoviesFolderAndPlaysTheChoice) {
    const QString movie = Movie("chosen.ata", "CHOSEN");
    // The program has its demo movies beside it; this test program has not.
    const QString movies = QCoreApplication::applicationDirPath() + "/MOVIES";
    const bool made = QDir().mkpath(movies);
    QString folder;
    QString title;
    AnswerOpenDialog([&](QFileDialog& dialog) {
        folder = dialog.directory().absolutePath();
        title = dialog.windowTitle();
        dialog.selectFile(movie);
        static_cast<QDialog&>(dialog).accept(); // QFileDialog hides it
    });
    window.Entry("M_PlayMovie")->trigger();
    EXPECT_EQ(folder, QDir(movies).absolutePath());
    if (made) {
        QDir().rmdir(movies);
    }
    EXPECT_EQ(title, "Open ATASCII Movie File");
    ASSERT_TRUE(ProcessEventsUntil([&] { return Cell(6, 1) == 'N'; }));
    ASSERT_TRUE(WaitUntilEnded());
}

TEST_F(MoviePlaybackTest, ACancelledOpenDialogLeavesTheRunningMovie) {
    ASSERT_TRUE(Play("running.ata", std::string(300, 'r'), "N300BPS1"));
    TConnectionThread* running = window.Session().Player();
    AnswerOpenDialog([](QFileDialog& dialog) { dialog.reject(); });
    window.Entry("M_PlayMovie")->setEnabled(true); // reachable from the menu
    window.Entry("M_PlayMovie")->trigger();
    EXPECT_EQ(window.Session().Player(), running);
    EXPECT_TRUE(ProcessEventsUntil([&] { return Cell(2, 1) == 'r'; }));
}

TEST_F(MoviePlaybackTest, MenusWhilePlayingAndStopKeepsThePicture) {
    ASSERT_TRUE(Play("long.ata", std::string(400, 'x'), "N300BPS1"));
    ExpectMenus(true);
    ASSERT_TRUE(ProcessEventsUntil([&] { return Cell(3, 1) == 'x'; }));

    window.Entry("M_StopMovie")->trigger();
    EXPECT_FALSE(Playing());
    ExpectMenus(false);
    const int column = window.Screen()->CursorX();
    const int row = window.Screen()->CursorY();
    // Nothing more arrives after the stop, and the picture stays.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    QApplication::processEvents();
    EXPECT_EQ(window.Screen()->CursorX(), column);
    EXPECT_EQ(window.Screen()->CursorY(), row);
    EXPECT_EQ(Cell(1, 1), 'x');
    EXPECT_LT(row * 40 + column, 400) << "the movie should not have finished";
}

TEST_F(MoviePlaybackTest, SpeedChangeTakesEffectDuringPlay) {
    SetSpeed("N300BPS1");
    // 300 bytes at 300 bps would take about 8 seconds.
    ASSERT_TRUE(Play("speed.ata", std::string(300, 's')));
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Cell(2, 1) == 's'; }));
    SetSpeed("FullSpeed1");
    EXPECT_EQ(window.Session().Player() ? window.Session().Player()->Delay() : 0, 0);
    ASSERT_TRUE(WaitUntilEnded());
    EXPECT_LT(timer.elapsed(), 4000);
    EXPECT_EQ(Cell(20, 8), 's');
}

TEST_F(MoviePlaybackTest, ASecondMovieStopsTheFirst) {
    ASSERT_TRUE(Play("first.ata", std::string(400, 'a'), "N300BPS1"));
    QPointer<TConnectionThread> first = window.Session().Player();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Cell(1, 1) == 'a'; }));
    SetSpeed("FullSpeed1");
    ASSERT_TRUE(Play("second.ata", "B"));
    ASSERT_TRUE(ProcessEventsUntil([&] { return first.isNull(); }));
    ASSERT_TRUE(WaitUntilEnded());
    EXPECT_EQ(Cell(1, 1), 'B');
    EXPECT_EQ(Cell(2, 1), ' ');
}

// The order of magnitude only; the benchmark measures the precision.
TEST_F(MoviePlaybackTest, PacingFollowsTheLineSpeed) {
    for (auto [entry, perByteMs] : {std::pair{"N2400BPS1", 3}, std::pair{"N1200BPS1", 6}}) {
        SetSpeed(entry);
        QElapsedTimer timer;
        timer.start();
        ASSERT_TRUE(Play("paced.ata", std::string(50, 'p')));
        ASSERT_TRUE(WaitUntilEnded());
        const qint64 expected = 50 * perByteMs;
        EXPECT_GT(timer.elapsed(), expected / 2) << entry;
        EXPECT_LT(timer.elapsed(), expected * 5 + 500) << entry;
    }
}

TEST_F(MoviePlaybackTest, StatusLineNamesTheMovieAndItsSpeed) {
    ASSERT_TRUE(Play("status.ata", std::string(300, 'm'), "N1200BPS1"));
    TMenuStatus* monitor = &window.Session().StatusMonitor();
    monitor->ComputeStatus();
    monitor->ShowStatus();
    EXPECT_EQ(window.StatusPanel1()->text(), "1200 BPS");
    EXPECT_EQ(window.StatusPanel2()->text(), "Playing: status.ata");
    SetSpeed("N300BPS1");
    // The monitor's own round shows the new speed within its interval.
    EXPECT_TRUE(
        ProcessEventsUntil([&] { return window.StatusPanel1()->text() == "300 BPS"; }, 3000));
    window.Entry("M_StopMovie")->trigger();
    EXPECT_TRUE(ProcessEventsUntil([&] { return window.StatusPanel1()->text() == "READY"; }, 3000));
    EXPECT_EQ(window.StatusPanel2()->text(), "");
}

TEST_F(MoviePlaybackTest, ANewMovieCannotStartWhileTheOldOneIsBeingStopped) {
    // The user stops a movie and, within the second the stop takes, tries
    // to open another one: the entry is off, and a start that still gets
    // through is refused, so no player runs that the window does not know.
    SetSpeed("N300BPS1");
    const QString second = Movie("second.ata", std::string(2000, 'B'));
    ASSERT_TRUE(Play("first.ata", std::string(2000, 'A')));
    bool entryWasEnabled = true;
    bool secondStarted = true;
    QTimer::singleShot(300, &window, [&] {
        entryWasEnabled = window.Entry("M_PlayMovie")->isEnabled();
        secondStarted = window.Session().PlayMovie(FileNameToSystem(second));
    });
    window.Entry("M_StopMovie")->trigger();
    EXPECT_FALSE(entryWasEnabled);
    EXPECT_FALSE(secondStarted);
    EXPECT_EQ(window.Session().Player(), nullptr);
    EXPECT_TRUE(ProcessEventsUntil([&] { return window.Session().LiveConnections() == 0; }, 5000))
        << "a player still runs that Stop Movie cannot reach";
    ExpectMenus(false);
}

// A missing file, a folder, a named pipe (which would block the window for
// ever if it were opened) and an endless device.
TEST_F(MoviePlaybackTest, AMovieThatCannotBeReadIsRefusedAtOnce) {
    const QString pipe = m_dir.filePath(QStringLiteral("pipe.ata"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QElapsedTimer timer;
    timer.start();
    for (const QString& path :
         {m_dir.filePath("missing.ata"), m_dir.path(), pipe, QStringLiteral("/dev/zero")}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_FALSE(window.Session().PlayMovie(FileNameToSystem(path)));
        EXPECT_EQ(window.Session().Player(), nullptr);
        ExpectMenus(false);
    }
    EXPECT_LT(timer.elapsed(), 5000);
}

// A movie played at full speed to its end: the start clears the screen (the
// 'Q' written before it), and the cells and cursor show what it drew.
struct WholeMovie {
    const char* name;
    std::string bytes;
    std::vector<std::tuple<int, int, std::uint8_t>> cells; // column, row, code
    int cursorX;
};
void PrintTo(const WholeMovie& movie, std::ostream* out) {
    *out << movie.name;
}

class MovieToTheEnd : public MoviePlaybackTest, public ::testing::WithParamInterface<WholeMovie> {};

TEST_P(MovieToTheEnd, DrawsItOnTheScreen) {
    window.Screen()->WriteByte('Q');
    ASSERT_TRUE(Play(std::string(GetParam().name) + ".ata", GetParam().bytes));
    ASSERT_TRUE(WaitUntilEnded());
    for (const auto& [column, row, code] : GetParam().cells) {
        EXPECT_EQ(Cell(column, row), code) << "at " << column << "," << row;
    }
    EXPECT_EQ(window.Screen()->CursorX(), GetParam().cursorX);
    ExpectMenus(false);
}

std::string LargeMovie() {
    std::string bytes;
    for (int i = 0; i < 100000; ++i) {
        bytes += static_cast<char>('A' + i % 26);
    }
    return bytes + "\x7d"
                   "END";
}

INSTANTIATE_TEST_SUITE_P(
    MoviePlayback, MovieToTheEnd,
    ::testing::Values(
        WholeMovie{"Hello", "HELLO\x9b\xc1", {{1, 1, 'H'}, {5, 1, 'O'}, {1, 2, 0xC1}}, 2},
        WholeMovie{"Empty", "", {{1, 1, ' '}}, 1},
        WholeMovie{"ClearScreenCode",
                   "ABC\x9b"
                   "DEF\x7dZ",
                   {{1, 1, 'Z'}, {2, 1, ' '}, {1, 2, ' '}},
                   2},
        WholeMovie{"LargeUnthrottled", LargeMovie(), {{1, 1, 'E'}, {3, 1, 'D'}}, 4}),
    [](const auto& info) { return std::string(info.param.name); });

// A connection that is stuck in a call it cannot leave (a slow name lookup),
// then wants the window for its last steps.
class StuckConnection : public TConnectionThread {
public:
    StuckConnection(std::atomic<bool>& release, std::atomic<bool>& reachedWindow)
        : TConnectionThread(300), m_release(release), m_reachedWindow(reachedWindow) {}
    Kind ConnectionKind() const override { return Kind::Telnet; }
    QString StatusText() const override { return QStringLiteral("resolving"); }

protected:
    void run() override {
        while (!m_release) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        OnUserInterfaceThread([this] { m_reachedWindow = true; });
        ReportEnd();
    }

private:
    std::atomic<bool>& m_release;
    std::atomic<bool>& m_reachedWindow;
};

TEST(MainWindowShutdown, ClosingCompletesWhileAThreadIsStuckAndItNeverReachesTheWindowAfter) {
    std::atomic<bool> release{false};
    std::atomic<bool> reachedWindow{false};
    QPointer<TConnectionThread> stuck;
    QElapsedTimer timer;
    {
        test::TProgram program{Tmain::Sound::Off};
        Tmain& window = program.window;
        window.Session().StartConnection(TConnectionThread::Kind::Telnet, [&] {
            auto* connection = new StuckConnection(release, reachedWindow);
            connection->Start();
            stuck = connection;
            return connection;
        });
        timer.start();
        window.close();
        EXPECT_LT(timer.elapsed(), TSession::kShutDownTimeoutMs + 2000);
        EXPECT_EQ(window.Session().TelnetConn(), nullptr);
    }
    // The thread comes back after the window has gone: it is refused.
    release = true;
    ASSERT_TRUE(ProcessEventsUntil([&] { return !stuck; }, 5000));
    EXPECT_FALSE(reachedWindow);
}

TEST(MainWindowShutdown, AMovieEndingDuringCloseDoesNotHang) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.ata"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(1 << 20, 'x'));
    file.close();
    for (int round = 0; round < 20; ++round) {
        test::TProgram program{Tmain::Sound::Off};
        Tmain& window = program.window;
        ASSERT_TRUE(window.Session().PlayMovie(FileNameToSystem(path)));
        std::this_thread::sleep_for(std::chrono::milliseconds(round));
        QElapsedTimer timer;
        timer.start();
        window.close();
        EXPECT_LT(timer.elapsed(), TSession::kShutDownTimeoutMs);
        EXPECT_EQ(window.Session().LiveConnections(), 0);
    }
}

} // namespace
