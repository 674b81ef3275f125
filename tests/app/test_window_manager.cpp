// What only a real window manager shows: the window in a real X server
// (Xvfb) under openbox, driven from outside by xdotool as a user's mouse and
// keyboard would. main starts the server and the window manager on a free
// display, and stops them whatever happens.

#include "app/main_window.h"
#include "app/session.h"
#include "loopback_peer.h"
#include "program.h"
#include "qt_event_wait.h"
#include "screen/crt_screen.h"
#include "temp_config.h"

#include <QApplication>
#include <QClipboard>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QWindow>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <future>
#include <iostream>
#include <sys/prctl.h>
#include <sys/wait.h>

using namespace telvora;

// Xlib, xcb and fontconfig keep caches for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libxcb\nleak:libX11\nleak:libfontconfig\nleak:libQt6XcbQpa\nleak:libdbus\n";
}

namespace {

constexpr int kTimeoutMs = 10000;
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 1024;
constexpr int kWindowManagerWaitMs = 30000;
constexpr int kWindowManagerTries = 3;

// Why the cases are skipped; empty when the desktop runs.
std::string g_skipReason;

// A program ended with the test program, even if that one dies.
pid_t Spawn(std::vector<std::string> args, bool quiet = true) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (quiet) {
            ::close(STDOUT_FILENO);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

void Stop(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    for (int waited = 0; ::waitpid(pid, nullptr, WNOHANG) == 0; waited += 10) {
        if (waited > 5000) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::usleep(10000);
    }
}

// "xdotool mousemove 10 20": its exit code, -1 when it did not end in time.
int RunCommand(const QString& command) {
    QStringList args = QProcess::splitCommand(command);
    QProcess process;
    process.start(args.takeFirst(), args);
    if (!process.waitForFinished(kTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Xvfb on the first free display, with openbox managing its windows.
struct Desktop {
    pid_t xvfb = -1;
    pid_t openbox = -1;

    ~Desktop() {
        Stop(openbox);
        Stop(xvfb);
    }
    // Empty when it runs, otherwise what went wrong.
    std::string Start() {
        int pipe[2];
        if (::pipe(pipe) != 0) {
            return "no pipe";
        }
        // Xvfb picks a free display and writes its number to the pipe.
        xvfb = Spawn({"Xvfb", "-displayfd", std::to_string(pipe[1]), "-screen", "0",
                      std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24",
                      "-nolisten", "tcp"},
                     false);
        ::close(pipe[1]);
        std::string display;
        pollfd wait{pipe[0], POLLIN, 0};
        for (char c = 0;
             ::poll(&wait, 1, kTimeoutMs) == 1 && ::read(pipe[0], &c, 1) == 1 && c != '\n';) {
            display += c;
        }
        ::close(pipe[0]);
        if (display.empty()) {
            return "Xvfb did not start";
        }
        ::setenv("DISPLAY", (":" + display).c_str(), 1);
        // A loaded machine starts openbox slowly, and a fresh one has caches
        // to build first: give it time, and start it again should it die.
        for (int tries = 0; tries < kWindowManagerTries; ++tries) {
            Stop(openbox);
            openbox = Spawn({"openbox", "--sm-disable"});
            if (WindowManagerAnswers()) {
                return {};
            }
        }
        return "openbox did not start";
    }
    // The window manager is there once it answers for the desktops.
    bool WindowManagerAnswers() {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kWindowManagerWaitMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (RunCommand(QStringLiteral("xdotool get_num_desktops")) == 0) {
                return true;
            }
            if (openbox <= 0 || ::waitpid(openbox, nullptr, WNOHANG) == openbox) {
                openbox = -1;
                return false;
            }
            ::usleep(100000);
        }
        return false;
    }
};

class WindowManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_skipReason.empty()) {
            GTEST_SKIP() << g_skipReason;
        }
        program = std::make_unique<test::TProgram>(Tmain::Sound::Off);
        Window().show();
        ASSERT_TRUE(ProcessEventsUntil(
            [&] { return Window().windowHandle() && Window().windowHandle()->isExposed(); },
            kTimeoutMs));
        ASSERT_EQ(Xdo(QStringLiteral("windowactivate --sync %1").arg(Window().winId())), 0);
        ASSERT_TRUE(ProcessEventsUntil([&] { return Window().isActiveWindow(); }, kTimeoutMs));
    }
    void TearDown() override { program.reset(); }

    Tmain& Window() { return program->window; }
    static int Xdo(const QString& command) {
        return RunCommand(QStringLiteral("xdotool ") + command);
    }
    static int MoveTo(const QPoint& at) {
        return Xdo(QStringLiteral("mousemove %1 %2").arg(at.x()).arg(at.y()));
    }
    // The centre of a cell of the terminal screen, on the X screen.
    QPoint CellCentre(int column, int row) {
        const TCrtScreen& screen = *Window().Screen();
        return screen.mapToGlobal(QPoint((2 * column - 1) * screen.CellWidth() / 2,
                                         (2 * row - 1) * screen.CellHeight() / 2));
    }
    // A board on loopback by raw TCP, as a user would reach one.
    void ConnectBoard() {
        auto accepted = std::async(std::launch::async, [&] { return board.Accept(); });
        ASSERT_TRUE(Window().Session().ConnectTelnet("127.0.0.1", std::to_string(board.Port()),
                                                     TLineProtocol::Raw));
        ASSERT_TRUE(ProcessEventsUntil(
            [&] { return accepted.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            kTimeoutMs));
        ASSERT_TRUE(accepted.get());
        ASSERT_TRUE(ProcessEventsUntil([&] { return Window().Session().LineUp(); }, kTimeoutMs));
    }
    // Whether the board has received the text (a short read each round).
    bool BoardGot(const std::string& text) {
        ProcessEventsUntil(
            [&] {
                const auto more = board.Read(text.size() - received.size(), 20);
                received.append(more.begin(), more.end());
                return received.size() >= text.size();
            },
            kTimeoutMs);
        return received == text;
    }
    static QString Primary() { return QGuiApplication::clipboard()->text(QClipboard::Selection); }

    LoopbackPeer board;
    std::string received;
    std::unique_ptr<test::TProgram> program;
};

TEST_F(WindowManagerTest, FullScreenFillsTheScreenAndF11ReturnsToTheWindow) {
    const QSize windowed = Window().size();
    ASSERT_EQ(Xdo(QStringLiteral("key F11")), 0);
    const QRect screen = Window().screen()->geometry();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Window().geometry() == screen; }, kTimeoutMs))
        << "the window is " << Window().width() << "x" << Window().height();
    // The terminal at the largest whole scale that fits, centred.
    const TCellSize cell = CellSizeFor(
        kNarrowColumns, FullScreenFontDelta(kNarrowColumns, 24, kScreenWidth, kScreenHeight, 255));
    QRect centred(0, 0, cell.width * kNarrowColumns, cell.height * 24);
    centred.moveCenter(screen.center());
    EXPECT_TRUE(
        ProcessEventsUntil([&] { return Window().Screen()->geometry() == centred; }, kTimeoutMs));

    ASSERT_EQ(Xdo(QStringLiteral("key F11")), 0);
    EXPECT_TRUE(ProcessEventsUntil(
        [&] { return !Window().isFullScreen() && Window().size() == windowed; }, kTimeoutMs));
}

TEST_F(WindowManagerTest, AtLargeTheFramedWindowFitsTheScreenInBothWidths) {
    const QRect available = Window().screen()->availableGeometry();
    Window().Entry("Large1")->trigger();
    for (const int columns : {kNarrowColumns, kWideColumns}) {
        Window().Session().SetColumns(columns);
        EXPECT_TRUE(ProcessEventsUntil([&] { return available.contains(Window().frameGeometry()); },
                                       kTimeoutMs))
            << columns << " columns: " << Window().frameGeometry().width() << " wide";
    }
    EXPECT_TRUE(Window().Entry("Large1")->isChecked());
}

TEST_F(WindowManagerTest, AKeyTypedAfterAMenuClosedWithEscapeReachesTheBoard) {
    ConnectBoard();
    QMenuBar* bar = Window().menuBar();
    ASSERT_EQ(MoveTo(bar->mapToGlobal(bar->actionGeometry(bar->actions().first()).center())), 0);
    ASSERT_EQ(Xdo(QStringLiteral("click 1")), 0);
    ASSERT_TRUE(ProcessEventsUntil([] { return QApplication::activePopupWidget(); }, kTimeoutMs));
    ASSERT_EQ(Xdo(QStringLiteral("key Escape")), 0);
    ASSERT_TRUE(ProcessEventsUntil([] { return !QApplication::activePopupWidget(); }, kTimeoutMs));
    ASSERT_EQ(Xdo(QStringLiteral("key a")), 0);
    EXPECT_TRUE(BoardGot("a")) << "[" << received << "]";
}

TEST_F(WindowManagerTest, AMouseSelectionIsThePrimarySelectionAndTheMiddleButtonTypesIt) {
    ConnectBoard();
    Window().Session().Typist().SetPace({1, 1});
    Window().Screen()->WriteBlock(reinterpret_cast<const std::uint8_t*>("HELLO"), 5);
    ASSERT_EQ(MoveTo(CellCentre(1, 1)), 0);
    ASSERT_EQ(Xdo(QStringLiteral("mousedown 1")), 0);
    ASSERT_EQ(MoveTo(CellCentre(5, 1)), 0);
    ASSERT_EQ(Xdo(QStringLiteral("mouseup 1")), 0);
    ASSERT_TRUE(ProcessEventsUntil([] { return Primary() == "HELLO\n"; }, kTimeoutMs));

    // Another program reads it from the X server; we answer while it waits.
    QProcess reader;
    reader.start(QStringLiteral("xclip"),
                 QProcess::splitCommand(QStringLiteral("-o -selection primary")));
    ASSERT_TRUE(
        ProcessEventsUntil([&] { return reader.state() == QProcess::NotRunning; }, kTimeoutMs));
    EXPECT_EQ(reader.readAllStandardOutput(), "HELLO\n");

    // What another program selected, the middle button types into the line.
    QProcess owner;
    owner.start(QStringLiteral("xclip"),
                QProcess::splitCommand(QStringLiteral("-quiet -i -selection primary")));
    owner.write("ok, go!");
    owner.closeWriteChannel();
    ASSERT_TRUE(ProcessEventsUntil([] { return Primary() == "ok, go!"; }, kTimeoutMs));
    ASSERT_EQ(MoveTo(CellCentre(20, 12)), 0);
    ASSERT_EQ(Xdo(QStringLiteral("click 2")), 0);
    EXPECT_TRUE(BoardGot("ok, go!")) << "[" << received << "]";
    owner.kill();
    owner.waitForFinished();
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    qputenv("XDG_CONFIG_HOME", QDir(test::TempConfigRoot()).filePath("xdg").toUtf8());
    std::string missing;
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "xclip"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            missing += std::string(missing.empty() ? "" : ", ") + tool;
        }
    }
    Desktop desktop;
    if (!missing.empty()) {
        // Still an application, for the skips.
        g_skipReason = "needs " + missing + " (scripts/install-deps.sh installs them)";
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else if (const std::string failed = desktop.Start(); !failed.empty()) {
        std::cerr << failed << "\n";
        return EXIT_FAILURE;
    } else {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    int result = EXIT_FAILURE;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    QDir(test::TempConfigRoot()).removeRecursively();
    return result;
}
