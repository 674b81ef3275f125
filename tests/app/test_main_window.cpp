#include "app/about_box.h"
#include "app/file_dialogs.h"
#include "app/links.h"
#include "app/main_window.h"
#include "common/message_box.h"
#include "common/qt_text.h"
#include "connection/byte_sender.h"
#include "keyboard/key_reference.h"
#include "program.h"
#include "screen/crt_screen.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace telvora;

namespace {

// A connection that only waits for its stop flag, like a quiet remote system.
class IdleConnection : public TConnectionThread {
public:
    explicit IdleConnection(int speed, std::atomic<int>* ended = nullptr)
        : TConnectionThread(speed), m_ended(ended) {}
    Kind ConnectionKind() const override { return Kind::Telnet; }
    QString StatusText() const override { return {}; }

protected:
    void run() override {
        while (!StopRequested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (m_ended != nullptr) {
            ++*m_ended;
        }
    }

private:
    std::atomic<int>* m_ended;
};

// A live line that records what it is sent, like a BBS that reads the keys.
// What it was sent outlives it: a stopped line releases itself.
class RecordingLine : public IdleConnection, public TByteSender {
public:
    explicit RecordingLine(std::vector<std::uint8_t>& sent) : IdleConnection(300), m_sent(sent) {}
    void SendByte(std::uint8_t code) override { m_sent.push_back(code); }

private:
    std::vector<std::uint8_t>& m_sent;
};

// Starts the line make() gives as the session's running connection, as a
// call does: made only once the running one has stopped.
template <typename Make>
auto StartLine(Tmain& window, Make make,
               TConnectionThread::Kind kind = TConnectionThread::Kind::Telnet) {
    decltype(make()) line = nullptr;
    window.Session().StartConnection(kind, [&] {
        line = make();
        line->Start();
        return line;
    });
    return line;
}

class MainWindowTest : public ::testing::Test {
protected:
    bool Checked(const char* name) { return window.Entry(name)->isChecked(); }
    bool Enabled(const char* name) { return window.Entry(name)->isEnabled(); }
    // The client area below the menu bar: the screen's parent and the status bar.
    QSize ClientSize() {
        return {window.centralWidget()->width(),
                window.centralWidget()->height() + window.statusBar()->height()};
    }

    test::TProgram program;

    Tmain& window = program.window;
};

TEST_F(MainWindowTest, StartsWithTheMenuTableStates) {
    EXPECT_EQ(window.windowTitle(), "Telvora");
    EXPECT_TRUE(Checked("FullSpeed1"));
    for (const char* name : {"N300BPS1", "N600BPS1", "N1200BPS1", "N2400BPS1"}) {
        EXPECT_FALSE(Checked(name)) << name;
    }
    EXPECT_EQ(window.Session().Speed(), 999999999);
    EXPECT_FALSE(window.DownloadMenu()->isEnabled());
    // Nothing called yet to redial or to log in to.
    for (const char* name :
         {"M_TelnetStop", "Disconnect1", "M_StopMovie", "Redial1", "SendLogin1"}) {
        EXPECT_FALSE(Enabled(name)) << name;
    }
    EXPECT_EQ(window.Entry("Redial1")->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    for (const char* name : {"M_TelnetStart", "AttachToSerialPort1", "M_PlayMovie", "Clear1"}) {
        EXPECT_TRUE(Enabled(name)) << name;
    }
    EXPECT_FALSE(window.Entry("Capture1")->isVisible());
    EXPECT_FALSE(window.Session().InTransfer());
    EXPECT_EQ(window.Entry("M_PlayMovie")->text(), "&Play ATASCII Movie");
}

TEST_F(MainWindowTest, MenuBarHasTheCaptionsInOrder) {
    QStringList captions;
    for (QAction* action : window.menuBar()->actions()) {
        captions << action->text();
    }
    // The design's menus, with Edit after File and Upload beside Download.
    EXPECT_EQ(captions, (QStringList{"&File", "&Edit", "&Connect To", "&Break Movies", "Te&rminal",
                                     "Download", "Upload", "&Links", "&Help"}));
}

// The screen sits one pixel in, the client area is three pixels wider and
// has the status bar below; only the screen's height changes the window's.
TEST_F(MainWindowTest, ScreenAndStatusBarFillTheClientAreaAtEverySize) {
    window.show();
    QApplication::processEvents();
    EXPECT_EQ(window.StatusPanel1()->width(), 100);
    EXPECT_EQ(QApplication::focusWidget(), window.Screen());
    const int frame = window.height() - 384;
    const std::pair<const char*, QSize> sizes[] = {
        {"Medium1", {640, 384}}, {"Large1", {960, 576}}, {"Small1", {320, 192}}};
    for (const auto& row : sizes) {
        SCOPED_TRACE(row.first);
        if (&row != &sizes[0]) { // the window starts at the first
            window.Entry(row.first)->trigger();
            QApplication::processEvents();
        }
        for (const auto& other : sizes) {
            EXPECT_EQ(Checked(other.first), &other == &row) << other.first;
        }
        EXPECT_EQ(window.Screen()->geometry(), QRect(QPoint(1, 0), row.second));
        EXPECT_EQ(window.statusBar()->height(), 17);
        EXPECT_EQ(ClientSize(), row.second + QSize(3, 17));
        EXPECT_EQ(window.height() - row.second.height(), frame);
    }
}

TEST_F(MainWindowTest, SpeedEntriesCheckOneAndSetTheSpeed) {
    const std::pair<const char*, int> speeds[] = {{"N1200BPS1", 1200},
                                                  {"N300BPS1", 300},
                                                  {"N600BPS1", 600},
                                                  {"N2400BPS1", 2400},
                                                  {"FullSpeed1", 999999999}};
    for (const auto& row : speeds) {
        SCOPED_TRACE(row.first);
        // A second click on the checked entry keeps it checked.
        for (int click = 1; click <= 2; ++click) {
            window.Entry(row.first)->trigger();
            EXPECT_EQ(window.Session().Speed(), row.second);
            for (const auto& other : speeds) {
                EXPECT_EQ(Checked(other.first), &other == &row) << other.first;
            }
        }
    }
}

// Entries that each switch one setting: the check mark and what the window
// does start alike and follow every choice.
struct SwitchEntry {
    const char* name;
    bool onAtStart;
    bool (*on)(Tmain&);
};
const SwitchEntry kSwitches[] = {
    {"EnableAtariKeyClickSound1", true, [](Tmain& w) { return w.KeyClickOn(); }},
    // Only read when a transfer starts: toggling starts nothing.
    {"ExtraFiltering", true, [](Tmain& w) { return w.Session().TelnetFilter(); }},
    {"EscapeShowsControls1", false, [](Tmain& w) { return w.Screen()->EscapeShowsControls(); }},
    {"ZmodemAutoStart1", true, [](Tmain& w) { return w.Session().AutoZmodem(); }},
    {"Inverse1", false, [](Tmain& w) { return w.InverseOn(); }},
};

TEST_F(MainWindowTest, SwitchEntriesStartAsChosenAndEachChoiceFlipsThem) {
    for (const SwitchEntry& entry : kSwitches) {
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(Checked(entry.name), entry.onAtStart);
        EXPECT_EQ(entry.on(window), entry.onAtStart);
        for (const bool on : {!entry.onAtStart, entry.onAtStart}) {
            window.Entry(entry.name)->trigger();
            EXPECT_EQ(Checked(entry.name), on);
            EXPECT_EQ(entry.on(window), on);
            EXPECT_FALSE(window.Session().InTransfer());
        }
    }
    window.Entry("EnableAtariKeyClickSound1")->trigger();
    window.PlaySound(); // silent with the click off, and must not block
}

TEST_F(MainWindowTest, EscapeShowsControlCharactersShowsTheirCodesOnTheScreen) {
    window.Entry("EscapeShowsControls1")->trigger();
    const std::uint8_t escapeUp[] = {27, 28};
    window.Screen()->WriteBlock(escapeUp, sizeof escapeUp);
    EXPECT_EQ(window.Screen()->DumpText().substr(0, 2), "1C");
}

TEST_F(MainWindowTest, RecordSessionIsCheckedAndShownWhileItRecordsAndASecondChoiceStopsIt) {
    QTemporaryDir folder;
    EXPECT_FALSE(Checked("RecordSession1"));
    ASSERT_TRUE(
        window.Session().StartRecording(folder.filePath(QStringLiteral("s.ata")).toStdString()));
    EXPECT_TRUE(Checked("RecordSession1"));
    EXPECT_TRUE(window.Session().Recording());
    EXPECT_TRUE(window.StatusPanel2()->text().contains("Recording"));
    window.Entry("RecordSession1")->trigger();
    EXPECT_FALSE(Checked("RecordSession1"));
    EXPECT_FALSE(window.Session().Recording());
    EXPECT_FALSE(window.StatusPanel2()->text().contains("Recording"));
    EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("s.ata"))));
}

// Save Scrollback opens in the user's folder, writes the type chosen in the
// dialog (a name typed without a suffix gets the type's) and opens next time
// where the user saved.
TEST_F(MainWindowTest, SaveScrollbackWritesTheChosenTypeAndRemembersTheFolder) {
    QTemporaryDir folder;
    QStringList told;
    SetMessageSink([&](const QString& text) { told << text; });
    window.Screen()->WriteBlock(reinterpret_cast<const std::uint8_t*>("HI"), 2);
    QString openedIn;
    const auto save = [&](const QString& filter, const QString& name) {
        QTimer::singleShot(0, [&, filter, name] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            openedIn = dialog->directory().absolutePath();
            dialog->selectNameFilter(filter);
            // As a user types it (selectFile leaves a focused name field alone).
            dialog->setDirectory(folder.path());
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
            static_cast<QDialog*>(dialog)->accept();
        });
        window.Entry("SaveScrollback1")->trigger();
    };
    save("ATASCII Movies (*.ata *.ATA)", "movie");
    EXPECT_EQ(openedIn, UserFilesFolder());
    QFile movie(folder.filePath("movie.ata"));
    ASSERT_TRUE(movie.open(QIODevice::ReadOnly));
    EXPECT_TRUE(movie.readAll().contains("HI\x9b")) << "rows end in End Of Line, as a movie's do";
    save("Text (*.txt)", "text");
    EXPECT_EQ(openedIn, folder.path());
    QFile text(folder.filePath("text.txt"));
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    EXPECT_TRUE(text.readAll().startsWith("HI\n"));
    SetMessageSink({});
    EXPECT_TRUE(told.isEmpty()) << told.join("; ").toStdString();
}

TEST_F(MainWindowTest, ClearWritesTheClearScreenCode) {
    const std::uint8_t text[] = {'H', 'I', 155, 'X'};
    window.Screen()->WriteBlock(text, sizeof text);
    window.Entry("Clear1")->trigger();
    EXPECT_EQ(window.Screen()->Cell(1, 1), 32);
    EXPECT_EQ(window.Screen()->CursorX(), 1);
    EXPECT_EQ(window.Screen()->CursorY(), 1);
    // Bytes after the clear continue at the new cursor position.
    window.Screen()->WriteByte('Z');
    EXPECT_EQ(window.Screen()->Cell(1, 1), 'Z');
}

TEST_F(MainWindowTest, ExitClosesTheWindow) {
    window.show();
    ASSERT_TRUE(window.isVisible());
    window.Entry("Exit1")->trigger();
    EXPECT_FALSE(window.isVisible());
}

TEST_F(MainWindowTest, LinksOpenTheirAddresses) {
    QStringList opened;
    SetUrlOpener([&](const QUrl& url) { opened << url.toString(); });
    for (const LinkEntry& link : LinkEntries()) {
        QAction* entry = window.Entry(link.name);
        ASSERT_NE(entry, nullptr) << link.name;
        EXPECT_EQ(entry->text(), link.caption);
        entry->trigger();
    }
    SetUrlOpener({});
    ASSERT_EQ(opened.size(), 3);
    EXPECT_EQ(opened[0], HomePageAddress());
    EXPECT_EQ(window.Entry("MarrowbyHomePage1")->text(), "Marrowby Home Page");
}

TEST_F(MainWindowTest, ZmodemHasItsEntriesAndAutoStartFollowsTheSession) {
    EXPECT_EQ(window.Entry("ZmodemDownload1")->text(), "ZMODEM...");
    EXPECT_EQ(window.Entry("ZmodemUpload1")->text(), "ZMODEM...");
    EXPECT_TRUE(window.DownloadMenu()->actions().contains(window.Entry("ZmodemDownload1")));
    EXPECT_TRUE(window.UploadMenu()->actions().contains(window.Entry("ZmodemUpload1")));
    // The auto-start entry shows what the session does, whoever changed it.
    for (const bool on : {false, true}) {
        window.Session().SetAutoZmodem(on);
        EXPECT_EQ(Checked("ZmodemAutoStart1"), on);
    }
}

TEST_F(MainWindowTest, HelpKeyboardListsWhatTheKeyTranslationSends) {
    window.Entry("Keyboard1")->trigger();
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("KeyTable"));
    ASSERT_NE(table, nullptr);
    EXPECT_TRUE(table->isVisible());
    const std::vector<TKeyRow> keys = KeyReference();
    ASSERT_EQ(table->rowCount(), static_cast<int>(keys.size()));
    EXPECT_EQ(table->item(0, 0)->text().toStdString(), keys[0].key);
    EXPECT_EQ(table->item(0, 5)->text().toStdString(), keys[0].sends[4]);
}

TEST_F(MainWindowTest, AboutBoxExistsHiddenFromTheStart) {
    ASSERT_NE(window.AboutBox(), nullptr);
    EXPECT_FALSE(window.AboutBox()->isVisible());
    EXPECT_EQ(window.AboutBox()->windowTitle(), "About Telvora");
}

TEST(MainWindowConnections, StartingStopsTheRunningConnectionFirst) {
    std::atomic<int> ended{0};
    test::TProgram program;
    Tmain& window = program.window;
    window.Entry("N2400BPS1")->trigger();
    const auto idle = [&] { return new IdleConnection(window.Session().Speed(), &ended); };
    IdleConnection* first = StartLine(window, idle);
    ASSERT_EQ(window.Session().TelnetConn(), first);
    EXPECT_EQ(first->Speed(), 2400);
    window.Entry("N600BPS1")->trigger();
    EXPECT_EQ(first->Delay(), 13);

    StartLine(window, idle);
    EXPECT_EQ(ended, 1);
    EXPECT_NE(window.Session().TelnetConn(), nullptr);

    window.Session().StopConnection();
    EXPECT_EQ(ended, 2);
    EXPECT_EQ(window.Session().TelnetConn(), nullptr);
    EXPECT_FALSE(window.Session().Stopping());
}

TEST(MainWindowConnections, ClosingJoinsARunningConnection) {
    std::atomic<int> ended{0};
    {
        test::TProgram program;
        Tmain& window = program.window;
        StartLine(
            window, [&] { return new IdleConnection(300, &ended); },
            TConnectionThread::Kind::Serial);
        window.close();
        EXPECT_EQ(ended, 1);
        EXPECT_EQ(window.Session().SerialConn(), nullptr);
    }
    EXPECT_EQ(ended, 1);
}

void Press(Tmain& window, int key, Qt::KeyboardModifiers modifiers, const QString& text = {},
           bool autoRepeat = false) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers, text, autoRepeat);
    QCoreApplication::sendEvent(window.Screen(), &event);
}

class KeysToTheLine : public ::testing::Test {
protected:
    void SetUp() override {
        StartLine(window, [this] { return new RecordingLine(sent); });
    }
    std::vector<std::uint8_t> sent;
    test::TProgram program{Tmain::Sound::Off};
    Tmain& window = program.window;
};

TEST_F(KeysToTheLine, KeysArriveAsTheAtariWouldSendThem) {
    Press(window, Qt::Key_A, Qt::NoModifier, "a");
    Press(window, Qt::Key_A, Qt::ShiftModifier, "A");
    Press(window, Qt::Key_A, Qt::ControlModifier, "\x01");
    Press(window, Qt::Key_A, Qt::AltModifier, "a");
    Press(window, Qt::Key_Return, Qt::NoModifier, "\r");
    Press(window, Qt::Key_Up, Qt::NoModifier);
    Press(window, Qt::Key_QuoteLeft, Qt::NoModifier, "`");
    Press(window, Qt::Key_Insert, Qt::ControlModifier);
    Press(window, Qt::Key_F1, Qt::NoModifier); // no code: nothing sent
    Press(window, Qt::Key_Exclam, Qt::ShiftModifier, "!");
    EXPECT_EQ(sent, (std::vector<std::uint8_t>{97, 65, 1, 225, 155, 28, 125, 255, 33}));
}

TEST_F(KeysToTheLine, TheInverseKeyInvertsWhatAltInvertsUntilPressedAgain) {
    Press(window, Qt::Key_F10, Qt::NoModifier);
    EXPECT_TRUE(window.InverseOn());
    EXPECT_TRUE(window.Entry("Inverse1")->isChecked());
    EXPECT_TRUE(window.StatusPanel2()->text().contains("INV"));
    Press(window, Qt::Key_A, Qt::NoModifier, "a");
    Press(window, Qt::Key_1, Qt::NoModifier, "1");
    Press(window, Qt::Key_A, Qt::ControlModifier, "\x01");
    Press(window, Qt::Key_Up, Qt::NoModifier);     // a cursor code stays as it is
    Press(window, Qt::Key_Return, Qt::NoModifier); // so does End Of Line
    window.Entry("Inverse1")->trigger();           // the menu entry switches it off
    EXPECT_FALSE(window.InverseOn());
    EXPECT_FALSE(window.StatusPanel2()->text().contains("INV"));
    Press(window, Qt::Key_A, Qt::NoModifier, "a");
    EXPECT_EQ(sent, (std::vector<std::uint8_t>{225, 177, 129, 28, 155, 97}));
}

TEST_F(KeysToTheLine, CapsLockIsTakenFromTheLettersTyped) {
    Press(window, Qt::Key_B, Qt::NoModifier, "B"); // a capital without Shift
    Press(window, Qt::Key_A, Qt::ControlModifier, "\x01");
    Press(window, Qt::Key_Apostrophe, Qt::NoModifier, "'");
    Press(window, Qt::Key_B, Qt::NoModifier, "b"); // Caps Lock is off again
    Press(window, Qt::Key_Apostrophe, Qt::NoModifier, "'");
    EXPECT_EQ(sent, (std::vector<std::uint8_t>{66, 65, 34, 98, 39}));
}

TEST_F(KeysToTheLine, AHeldKeySendsAgainAndNothingGoesOutDuringAStop) {
    Press(window, Qt::Key_X, Qt::NoModifier, "x");
    Press(window, Qt::Key_X, Qt::NoModifier, "x", true);
    EXPECT_EQ(sent, (std::vector<std::uint8_t>{120, 120}));
    const std::size_t before = sent.size();
    bool pressedWhileStopping = false;
    QTimer::singleShot(100, &window, [&] {
        pressedWhileStopping = window.Session().Stopping();
        Press(window, Qt::Key_Y, Qt::NoModifier, "y");
    });
    window.Session().StopConnection();
    EXPECT_TRUE(pressedWhileStopping);
    EXPECT_EQ(sent.size(), before);
}

TEST(KeysDuringAMovie, AreNotSentAnywhere) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("slow.ata"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(500, 'm'));
    file.close();
    test::TProgram program{Tmain::Sound::Off};
    Tmain& window = program.window;
    window.Entry("N300BPS1")->trigger();
    ASSERT_TRUE(window.Session().PlayMovie(FileNameToSystem(path)));
    Press(window, Qt::Key_A, Qt::NoModifier, "a"); // must not crash or reach anything
    EXPECT_EQ(window.Session().TelnetConn(), nullptr);
    // No local echo: the typed letter never reaches the screen.
    for (int row = 1; row <= 24; ++row) {
        for (int column = 1; column <= 40; ++column) {
            EXPECT_NE(window.Screen()->Cell(column, row), 'a') << column << "," << row;
        }
    }
    window.close();
}

} // namespace
