// What only a real window manager shows: the window in a real X server
// (Xvfb) under openbox, driven from outside by xdotool as a user's mouse and
// keyboard would. The program's main starts the server and the window
// manager on a free display, and stops them whatever happens.

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

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <future>
#include <iostream>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace telvora;

// Xlib, xcb and fontconfig keep caches for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libxcb\nleak:libX11\nleak:libfontconfig\nleak:libQt6XcbQpa\nleak:libdbus\n";
}

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kEventTimeoutMs = 10000;
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 1024;

// Why the cases are skipped; empty when the desktop runs.
std::string g_skipReason;

// A program of ours, ended with the test program even if that one dies.
pid_t Spawn(const std::vector<std::string>& args, int keepFd = -1) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        if (keepFd < 0) {
            ::close(STDOUT_FILENO);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

void Stop(pid_t& pid) {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (::waitpid(pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid = -1;
}

// Exit code of a short tool run; -1 when it did not end in time.
int RunTool(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(kEventTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Xvfb on the first free display, with openbox managing its windows.
class Desktop {
public:
    Desktop() = default;
    ~Desktop() {
        Stop(m_openbox);
        Stop(m_xvfb);
    }
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // Empty when it runs, otherwise what went wrong.
    std::string Start() {
        int pipe[2];
        if (::pipe(pipe) != 0) {
            return "no pipe";
        }
        // Xvfb picks a free display and writes its number to the pipe.
        m_xvfb = Spawn({"Xvfb", "-displayfd", std::to_string(pipe[1]), "-screen", "0",
                        std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24",
                        "-nolisten", "tcp", "-noreset"},
                       pipe[1]);
        ::close(pipe[1]);
        std::string display;
        pollfd wait{pipe[0], POLLIN, 0};
        char c = 0;
        while (::poll(&wait, 1, kStartTimeoutMs) == 1 && ::read(pipe[0], &c, 1) == 1 && c != '\n') {
            display += c;
        }
        ::close(pipe[0]);
        if (display.empty()) {
            return "Xvfb did not start";
        }
        ::setenv("DISPLAY", (":" + display).c_str(), 1);
        m_openbox = Spawn({"openbox", "--sm-disable"});
        // The window manager is there once it answers for the desktops.
        QElapsedTimer timer;
        timer.start();
        while (RunTool(QStringLiteral("xdotool"), {QStringLiteral("get_num_desktops")}) != 0) {
            if (timer.elapsed() > kStartTimeoutMs) {
                return "openbox did not start";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return {};
    }

private:
    pid_t m_xvfb = -1;
    pid_t m_openbox = -1;
};

std::string MissingTools() {
    std::string missing;
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "xclip"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            missing += std::string(missing.empty() ? "" : ", ") + tool;
        }
    }
    return missing;
}

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
            kEventTimeoutMs));
        ASSERT_EQ(Xdo({QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                       QString::number(Window().winId())}),
                  0);
        ASSERT_TRUE(ProcessEventsUntil([&] { return Window().isActiveWindow(); }, kEventTimeoutMs));
    }
    void TearDown() override { program.reset(); }

    Tmain& Window() { return program->window; }

    static int Xdo(const QStringList& args) { return RunTool(QStringLiteral("xdotool"), args); }
    static int MoveTo(const QPoint& at) {
        return Xdo({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())});
    }
    // The centre of a cell of the terminal screen, on the X screen.
    QPoint CellCentre(int column, int row) {
        TCrtScreen& screen = *Window().Screen();
        return screen.mapToGlobal(
            QPoint((column - 1) * screen.CellWidth() + screen.CellWidth() / 2,
                   (row - 1) * screen.CellHeight() + screen.CellHeight() / 2));
    }
    // A board on loopback by raw TCP, as a user would reach one.
    void ConnectBoard() {
        auto accepted = std::async(std::launch::async, [&] { return board.Accept(); });
        ASSERT_TRUE(Window().Session().ConnectTelnet("127.0.0.1", std::to_string(board.Port()),
                                                     TLineProtocol::Raw));
        ASSERT_TRUE(ProcessEventsUntil(
            [&] { return accepted.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            kEventTimeoutMs));
        ASSERT_TRUE(accepted.get());
        ASSERT_TRUE(
            ProcessEventsUntil([&] { return Window().Session().LineUp(); }, kEventTimeoutMs));
    }
    // Whether the board has received the text by now (a short read each round).
    bool BoardGot(const std::string& text) {
        return ProcessEventsUntil(
                   [&] {
                       const std::vector<std::uint8_t> more =
                           board.Read(text.size() - received.size(), 20);
                       received.append(more.begin(), more.end());
                       return received.size() >= text.size();
                   },
                   kEventTimeoutMs) &&
               received == text;
    }

    LoopbackPeer board;
    std::string received;
    std::unique_ptr<test::TProgram> program;
};

TEST_F(WindowManagerTest, FullScreenFillsTheScreenAndF11ReturnsToTheWindow) {
    const QSize windowed = Window().size();
    ASSERT_EQ(Xdo({QStringLiteral("key"), QStringLiteral("F11")}), 0);
    const QRect screen = Window().screen()->geometry();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Window().geometry() == screen; }, kEventTimeoutMs))
        << "the window is " << Window().width() << "x" << Window().height();
    // The terminal at the largest whole scale that fits, centred.
    TCrtScreen& terminal = *Window().Screen();
    const TCellSize cell = CellSizeFor(
        kNarrowColumns, FullScreenFontDelta(kNarrowColumns, 24, kScreenWidth, kScreenHeight, 255));
    const QSize size(cell.width * kNarrowColumns, cell.height * 24);
    const QRect centred(
        QPoint((kScreenWidth - size.width()) / 2, (kScreenHeight - size.height()) / 2), size);
    EXPECT_TRUE(ProcessEventsUntil([&] { return terminal.geometry() == centred; }, kEventTimeoutMs))
        << terminal.x() << "," << terminal.y() << " " << terminal.width() << "x"
        << terminal.height();

    ASSERT_EQ(Xdo({QStringLiteral("key"), QStringLiteral("F11")}), 0);
    EXPECT_TRUE(ProcessEventsUntil(
        [&] { return !Window().isFullScreen() && Window().size() == windowed; }, kEventTimeoutMs));
}

TEST_F(WindowManagerTest, AtLargeTheFramedWindowFitsTheScreenInBothWidths) {
    const QRect available = Window().screen()->availableGeometry();
    Window().Entry("Large1")->trigger();
    for (const int columns : {kNarrowColumns, kWideColumns}) {
        Window().Session().SetColumns(columns);
        EXPECT_TRUE(ProcessEventsUntil([&] { return available.contains(Window().frameGeometry()); },
                                       kEventTimeoutMs))
            << columns << " columns: " << Window().frameGeometry().width() << "x"
            << Window().frameGeometry().height();
    }
    EXPECT_TRUE(Window().Entry("Large1")->isChecked());
}

TEST_F(WindowManagerTest, AKeyTypedAfterAMenuClosedWithEscapeReachesTheBoard) {
    ConnectBoard();
    QMenuBar* bar = Window().menuBar();
    ASSERT_EQ(MoveTo(bar->mapToGlobal(bar->actionGeometry(bar->actions().first()).center())), 0);
    ASSERT_EQ(Xdo({QStringLiteral("click"), QStringLiteral("1")}), 0);
    ASSERT_TRUE(ProcessEventsUntil([] { return QApplication::activePopupWidget() != nullptr; },
                                   kEventTimeoutMs));
    ASSERT_EQ(Xdo({QStringLiteral("key"), QStringLiteral("Escape")}), 0);
    ASSERT_TRUE(ProcessEventsUntil([] { return QApplication::activePopupWidget() == nullptr; },
                                   kEventTimeoutMs));
    ASSERT_EQ(Xdo({QStringLiteral("key"), QStringLiteral("a")}), 0);
    EXPECT_TRUE(BoardGot("a")) << "[" << received << "]";
}

TEST_F(WindowManagerTest, AMouseSelectionIsThePrimarySelectionAndTheMiddleButtonTypesIt) {
    ConnectBoard();
    Window().Session().Typist().SetPace({1, 1});
    const std::string hello = "HELLO";
    Window().Screen()->WriteBlock(reinterpret_cast<const std::uint8_t*>(hello.data()),
                                  hello.size());
    ASSERT_EQ(MoveTo(CellCentre(1, 1)), 0);
    ASSERT_EQ(Xdo({QStringLiteral("mousedown"), QStringLiteral("1")}), 0);
    ASSERT_EQ(MoveTo(CellCentre(5, 1)), 0);
    ASSERT_EQ(Xdo({QStringLiteral("mouseup"), QStringLiteral("1")}), 0);
    ASSERT_TRUE(ProcessEventsUntil(
        [] { return QGuiApplication::clipboard()->text(QClipboard::Selection) == "HELLO\n"; },
        kEventTimeoutMs));

    // Another program reads it from the X server; we answer while it waits.
    QProcess reader;
    reader.start(QStringLiteral("xclip"),
                 {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("primary")});
    ASSERT_TRUE(ProcessEventsUntil([&] { return reader.state() == QProcess::NotRunning; },
                                   kEventTimeoutMs));
    EXPECT_EQ(reader.readAllStandardOutput(), "HELLO\n");

    // What another program selected, the middle button types into the line.
    QProcess owner;
    owner.start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-i"),
                                          QStringLiteral("-selection"), QStringLiteral("primary")});
    owner.write("ok, go!");
    owner.closeWriteChannel();
    ASSERT_TRUE(ProcessEventsUntil(
        [] { return QGuiApplication::clipboard()->text(QClipboard::Selection) != "HELLO\n"; },
        kEventTimeoutMs));
    ASSERT_EQ(MoveTo(CellCentre(20, 12)), 0);
    ASSERT_EQ(Xdo({QStringLiteral("click"), QStringLiteral("2")}), 0);
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
    const QString root = test::TempConfigRoot();
    qputenv("XDG_CONFIG_HOME", QDir(root).filePath(QStringLiteral("xdg")).toUtf8());
    std::unique_ptr<Desktop> desktop;
    if (const std::string missing = MissingTools(); !missing.empty()) {
        g_skipReason = "needs " + missing + " (scripts/install-deps.sh installs them)";
    } else {
        desktop = std::make_unique<Desktop>();
        if (const std::string failed = desktop->Start(); !failed.empty()) {
            std::cerr << failed << "\n";
            return EXIT_FAILURE;
        }
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    int result = EXIT_FAILURE;
    {
        // Without a desktop there is still an application, for the skips.
        if (desktop == nullptr) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    desktop.reset();
    QDir(root).removeRecursively();
    return result;
}
