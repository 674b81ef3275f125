// Telnet sessions as a user has them: the window connects to a scripted BBS
// on loopback, shows what it sends at the chosen speed, sends the keys typed
// on the screen, and ends cleanly whichever side closes.

#include "session_test_support.h"

#include "common/qt_text.h"
#include "connection/telnet.h"
#include "connection/telnet/tn_cnx.h"
#include "directory/dialer.h"

#include "blocked_lookup.h"
#include "kept_bytes.h"
#include "loopback_peer.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <functional>
#include <random>

using namespace telvora;
using namespace telvora::test;

namespace {

constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kTermType = 24;

// A name lookup that knows no host at all.
int NoSuchHost(const std::string& /*name*/, in_addr_t& /*address*/) {
    return 11001;
}

using test::BlockedLookup;

class TelnetSession : public SessionTest {
protected:
    void TearDown() override {
        BlockedLookup::Release();
        SessionTest::TearDown();
    }

    // Connects the window to the peer and waits for the peer to accept.
    void Connect() {
        ASSERT_TRUE(window.Session().ConnectTelnet("127.0.0.1", peer.PortText()));
        ASSERT_TRUE(OnPeer([&] { return peer.Accept(); }));
        ASSERT_TRUE(ProcessEventsUntil([&] { return Status().second.startsWith("Connected"); }));
    }
    void Send(const std::vector<std::uint8_t>& bytes) {
        OnPeer([&] {
            peer.SendAll(bytes);
            return true;
        });
    }
    std::vector<std::uint8_t> Receive(std::size_t count) {
        return OnPeer([&] { return peer.Read(count); });
    }
    template <typename Widget = QPushButton> Widget* InDirectory(const char* name) {
        return window.Dialer()->findChild<Widget*>(QString::fromLatin1(name));
    }
    // Opens the host directory and, once it shows, works it as the user would.
    void UseDirectory(const std::function<void()>& steps) {
        QTimer::singleShot(50, window.Dialer(), steps);
        window.Entry("M_TelnetStart")->trigger();
    }
    void CallRow(int row) {
        window.Dialer()->HyperGrid1EnterRow(row);
        InDirectory("BitBtn3")->click();
    }
    // Saves an entry for the peer in an empty host directory, then calls it
    // or (no kind given, width left as offered) leaves with Close.
    void SaveNewEntry(const QString& name, const QString& kind = {}, const QString& width = {}) {
        QSettings(QStringLiteral("Marrowby"), QStringLiteral("Telvora")).clear();
        UseDirectory([=, this] {
            InDirectory<QLineEdit>("Edit1")->setText(QStringLiteral("127.0.0.1"));
            InDirectory<QLineEdit>("Edit3")->setText(QString::fromStdString(peer.PortText()));
            InDirectory<QLineEdit>("Edit2")->setText(name);
            if (!kind.isEmpty()) {
                InDirectory<QComboBox>("ComboBox1")->setCurrentText(kind);
                InDirectory<QComboBox>("ComboBox2")->setCurrentText(width);
            }
            InDirectory("BitBtn1")->click();
            if (kind.isEmpty()) {
                InDirectory("BitBtn4")->click();
            } else {
                CallRow(1);
            }
        });
    }
    void AnswerCall() {
        ASSERT_TRUE(OnPeer([&] { return peer.Accept(); }));
        ASSERT_TRUE(ProcessEventsUntil([&] { return window.Session().LineUp(); }));
    }
    void ExpectRawLine() {
        ASSERT_NE(window.Session().TelnetConn(), nullptr);
        EXPECT_EQ(window.Session().TelnetConn()->ConnectionKind(), TConnectionThread::Kind::Raw);
        EXPECT_EQ(Status().first, "RAW TCP");
    }

    LoopbackPeer peer;
};

TEST_F(TelnetSession, TheTerminalTypeAskedForIsAtascii) {
    Connect();
    Send({kIac, kDo, kTermType});
    EXPECT_EQ(Receive(3), (std::vector<std::uint8_t>{kIac, kWill, kTermType}));
    Send({kIac, kSb, kTermType, 1, kIac, kSe});
    const std::vector<std::uint8_t> expected{kIac, kSb, kTermType, 0,   'A',  'T', 'A',
                                             'S',  'C', 'I',       'I', kIac, kSe};
    EXPECT_EQ(Receive(expected.size()), expected);
}

TEST_F(TelnetSession, APageLandsOnTheScreenInOrderAndTheMenusShowTheLine) {
    Connect();
    EXPECT_TRUE(Enabled("M_TelnetStart")) << "the directory opens while connected";
    EXPECT_TRUE(Enabled("M_TelnetStop"));
    EXPECT_TRUE(window.DownloadMenu()->isEnabled());
    EXPECT_EQ(Status().first, "TELNET");
    EXPECT_EQ(Status().second, "Connected to 127.0.0.1");

    std::string page;
    for (int line = 1; line <= 20; ++line) {
        page += "LINE " + std::to_string(line) + "\x9b";
    }
    Send(Bytes(page));
    ASSERT_TRUE(ProcessEventsUntil([&] { return RowStartsWith(20, "LINE 20"); }));
    for (int line = 1; line <= 20; ++line) {
        EXPECT_TRUE(RowStartsWith(line, "LINE " + std::to_string(line) + " ")) << Row(line);
    }
}

TEST_F(TelnetSession, At2400BpsAPageTakesAsLongAsOnTheLine) {
    window.Entry("N2400BPS1")->trigger();
    Connect();
    // 300 bytes at 3 ms each: about 0.9 s.
    const std::string page(299, 'Z');
    QElapsedTimer timer;
    timer.start();
    Send(Bytes(page + "!"));
    ASSERT_TRUE(ProcessEventsUntil([&] { return window.Screen()->Cell(20, 8) == '!'; }));
    EXPECT_GE(timer.elapsed(), 850);
    EXPECT_LE(timer.elapsed(), 4000);
}

TEST_F(TelnetSession, KeysTypedOnTheScreenReachTheBbsAsAtasciiCodes) {
    Connect();
    Press(Qt::Key_A, Qt::NoModifier, "a");
    Press(Qt::Key_A, Qt::ShiftModifier, "A");
    Press(Qt::Key_C, Qt::ControlModifier, "\x03");
    Press(Qt::Key_A, Qt::AltModifier, "a");
    Press(Qt::Key_Return, Qt::NoModifier, "\r");
    Press(Qt::Key_Up, Qt::NoModifier);
    Press(Qt::Key_Left, Qt::NoModifier);
    Press(Qt::Key_QuoteLeft, Qt::NoModifier, "`");
    Press(Qt::Key_B, Qt::NoModifier, "B");      // Caps Lock on: a capital without Shift
    Press(Qt::Key_Insert, Qt::ControlModifier); // 255: IAC IAC, one data byte to the server
    Press(Qt::Key_Z, Qt::NoModifier, "z");
    EXPECT_EQ(Receive(12),
              (std::vector<std::uint8_t>{97, 65, 3, 225, 155, 28, 30, 125, 66, 255, 255, 122}));
}

TEST_F(TelnetSession, EchoedKeysAreShownWithoutWaitingForThePoll) {
    Connect();
    // Waiting for the 100 ms poll, ten echoes would take about half a second;
    // woken by the data they take a few milliseconds each.
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 10; ++i) {
        Press(Qt::Key_Q, Qt::NoModifier, "q");
        ASSERT_EQ(Receive(1), Bytes("q"));
        Send(Bytes("q"));
        ASSERT_TRUE(ProcessEventsUntil([&] { return window.Screen()->CursorX() == i + 2; }));
    }
    EXPECT_LT(timer.elapsed(), 400);
}

TEST_F(TelnetSession, ARemoteCloseShowsTheFarewellThenTheMessageAndRestoresTheMenus) {
    window.Entry("N1200BPS1")->trigger();
    Connect();
    OnPeer([&] {
        peer.SendText("GOODBYE FROM THE BBS");
        peer.CloseConnection();
        return true;
    });
    ASSERT_TRUE(WaitForMessage(QStringLiteral("Connection closed by remote host.")));
    EXPECT_TRUE(RowStartsWith(1, "GOODBYE FROM THE BBS")) << Row(1);
    ASSERT_TRUE(WaitForEnd());
    ExpectIdleMenus();
    EXPECT_EQ(window.Session().TelnetConn(), nullptr);
    EXPECT_EQ(Status().first, "READY");
    EXPECT_FALSE(window.Session().LastConnectionFailed());
}

TEST_F(TelnetSession, AFloodWhileDeliveryLagsKeepsTheLineAndLosesNothing) {
    // At 300 bps the screen takes 37 bytes a second, so the FIFO fills at
    // once: the socket is left unread and TCP holds the sender back. Then the
    // throttle goes off and everything must arrive, in order.
    window.Entry("Capture1")->trigger();
    ASSERT_TRUE(window.Session().CaptureOn());
    window.Entry("N300BPS1")->trigger();
    Connect();
    std::vector<std::uint8_t> flood(1 << 20);
    std::mt19937 random(7);
    for (std::uint8_t& byte : flood) {
        byte = static_cast<std::uint8_t>(random() % 255); // no IAC: the bytes stay as sent
    }
    auto sending = std::async(std::launch::async, [&] {
        peer.SendAll(flood);
        return true;
    });
    // The FIFO fills and the socket is left unread; what does not fit waits
    // in the system's buffers (a megabyte fits there on loopback).
    auto* telnet = qobject_cast<TTelnet*>(window.Session().TelnetConn());
    ASSERT_NE(telnet, nullptr);
    ASSERT_TRUE(ProcessEventsUntil([&] { return telnet->TnCnx().ReceivePaused(); }));
    ProcessEventsFor(500);
    ASSERT_EQ(window.Session().TelnetConn(), telnet);
    window.Entry("FullSpeed1")->trigger();
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return sending.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        30000));
    EXPECT_TRUE(sending.get());
    const QString path = QDir::home().filePath(QStringLiteral("capture"));
    ASSERT_TRUE(ProcessEventsUntil([&] { return QFile(path).size() >= qint64(flood.size()); }));
    window.Entry("Capture1")->trigger();
    EXPECT_FALSE(window.Session().CaptureOn());
    QFile captured(path);
    ASSERT_TRUE(captured.open(QIODevice::ReadOnly));
    const QByteArray bytes = captured.readAll();
    ASSERT_EQ(static_cast<std::size_t>(bytes.size()), flood.size());
    EXPECT_TRUE(std::equal(flood.begin(), flood.end(),
                           reinterpret_cast<const std::uint8_t*>(bytes.constData())));
    EXPECT_NE(window.Session().TelnetConn(), nullptr) << "the connection was dropped";
    EXPECT_TRUE(messages.isEmpty()) << messages.join("; ").toStdString();
    captured.remove();
}

TEST_F(TelnetSession, ACaptureFileThatCannotBeWrittenIsReportedAndTheLineGoesOn) {
    // The capture file is a full device: it opens, but nothing can be written.
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), TSession::CapturePath()));
    window.Entry("Capture1")->trigger();
    ASSERT_TRUE(window.Session().CaptureOn());
    Connect();
    Send(Bytes("STILL HERE"));
    ASSERT_TRUE(WaitForAnyMessage());
    EXPECT_EQ(messages.first().toStdString(), "Cannot write the capture file " +
                                                  TSession::CapturePath().toStdString() +
                                                  ": No space left on device. Capture is off.");
    EXPECT_FALSE(window.Session().CaptureOn());
    ASSERT_TRUE(ProcessEventsUntil([&] { return RowStartsWith(1, "STILL HERE"); }));
    EXPECT_NE(window.Session().TelnetConn(), nullptr);
}

TEST_F(TelnetSession, ACaptureFileThatCannotBeMadeIsReportedAndCaptureStaysOff) {
    qputenv("HOME", "/nonexistent-telvora-home");
    window.Entry("Capture1")->trigger();
    qputenv("HOME", home.path().toUtf8());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.first().startsWith(
        "Cannot create the capture file /nonexistent-telvora-home/capture: "))
        << messages.first().toStdString();
    EXPECT_FALSE(window.Session().CaptureOn());
}

TEST_F(TelnetSession, ATransferTakesTheBlocksAndThenGivesThemBackToTheScreen) {
    Connect();
    auto kept = std::make_shared<test::KeptBytes>();
    window.Session().SetMachineMaker(kept->Maker());
    ASSERT_TRUE(window.Session().StartTransfer({}));
    // Raw mode: an IAC IAC reaches the transfer as one 255 (the filter is on).
    Send({1, 2, kIac, kIac, 3});
    ASSERT_TRUE(ProcessEventsUntil([&] { return kept->Bytes().size() >= 4; }));
    EXPECT_EQ(window.Screen()->Cell(1, 1), ' ');
    kept->Finish();
    ASSERT_TRUE(ProcessEventsUntil([&] { return !window.Session().InTransfer(); }));
    Send(Bytes("BACK"));
    ASSERT_TRUE(ProcessEventsUntil([&] { return RowStartsWith(1, "BACK"); }));
    EXPECT_EQ(kept->Bytes(), std::string("\x01\x02\xff\x03"));
}

TEST_F(TelnetSession, ATransferThatStartsWhileAPageIsPacedTakesTheRestAtOnce) {
    window.Entry("N300BPS1")->trigger();
    Connect();
    Send(std::vector<std::uint8_t>(400, 'p')); // eleven seconds at 300 bps
    ASSERT_TRUE(ProcessEventsUntil([&] { return window.Screen()->Cell(3, 1) == 'p'; }));
    auto kept = std::make_shared<test::KeptBytes>();
    window.Session().SetMachineMaker(kept->Maker());
    ASSERT_TRUE(window.Session().StartTransfer({}));
    ASSERT_TRUE(ProcessEventsUntil([&] { return !kept->Bytes().empty(); }, 2000));
    int shown = 0;
    for (int row = 1; row <= 24; ++row) {
        for (int column = 1; column <= 40; ++column) {
            shown += window.Screen()->Cell(column, row) == 'p' ? 1 : 0;
        }
    }
    EXPECT_EQ(shown + static_cast<int>(kept->Bytes().size()), 400);
}

TEST_F(TelnetSession, AHostThatCannotBeFoundIsReportedAndNothingIsLeftRunning) {
    window.Session().SetHostLookup(NoSuchHost);
    ASSERT_TRUE(window.Session().ConnectTelnet("nosuch.invalid", "23"));
    ASSERT_TRUE(WaitForEnd());
    const QString expected =
        QStringLiteral("Cannot Connect - connect: WSocketResolveHost: Cannot convert host address "
                       "'nosuch.invalid', Error #11001");
    ASSERT_TRUE(WaitForMessage(expected)) << messages.join("; ").toStdString();
    EXPECT_TRUE(window.Session().LastConnectionFailed());
    ExpectIdleMenus();
    EXPECT_EQ(Status().first, "READY");
}

TEST_F(TelnetSession, ARefusedPortSaysTheConnectWasRefused) {
    const RefusingPort refusing;
    ASSERT_TRUE(window.Session().ConnectTelnet("127.0.0.1", std::to_string(refusing.Port())));
    ASSERT_TRUE(WaitForMessage(QStringLiteral("Cannot Connect - Connection refused")));
    ASSERT_TRUE(WaitForEnd());
    ExpectIdleMenus();
    EXPECT_TRUE(window.Session().LastConnectionFailed());
}

TEST_F(TelnetSession, DisconnectDuringALookupThatNeverAnswersLeavesTheNextConnectionAlone) {
    BlockedLookup::Reset();
    window.Session().SetHostLookup(BlockedLookup::Lookup);
    ASSERT_TRUE(window.Session().ConnectTelnet("slow.example", "23"));
    ASSERT_TRUE(ProcessEventsUntil([] { return BlockedLookup::Waiting() == 1; }));
    EXPECT_EQ(Status().second, "");
    QElapsedTimer timer;
    timer.start();
    window.Entry("M_TelnetStop")->trigger();
    EXPECT_LT(timer.elapsed(), 3000);
    ExpectIdleMenus();

    // A new connection starts while the old thread still waits for its lookup.
    window.Session().SetHostLookup(SystemHostLookup);
    Connect();
    TConnectionThread* current = window.Session().TelnetConn();
    BlockedLookup::Release();
    ProcessEventsFor(300);
    EXPECT_EQ(window.Session().TelnetConn(), current);
    EXPECT_EQ(window.Session().StatusMonitor().Connection(), current);
    Send(Bytes("NEW"));
    ASSERT_TRUE(ProcessEventsUntil([&] { return RowStartsWith(1, "NEW"); }));
    EXPECT_TRUE(messages.isEmpty()) << messages.join("; ").toStdString();
}

TEST_F(TelnetSession, ClosingTheWindowDuringALookupThatNeverAnswersDoesNotHang) {
    BlockedLookup::Reset();
    window.Session().SetHostLookup(BlockedLookup::Lookup);
    ASSERT_TRUE(window.Session().ConnectTelnet("slow.example", "23"));
    ASSERT_TRUE(ProcessEventsUntil([] { return BlockedLookup::Waiting() == 1; }));
    QElapsedTimer timer;
    timer.start();
    window.close();
    EXPECT_LE(timer.elapsed(), TSession::kShutDownTimeoutMs + 1000);
    EXPECT_EQ(window.Session().TelnetConn(), nullptr);
}

TEST_F(TelnetSession, ClosingTheWindowWhileConnectedAsksFirstAndThenEndsTheSession) {
    Connect();
    window.show();
    SetMessageSink({}); // the question box itself, answered No
    QTimer::singleShot(0, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->button(QMessageBox::No)->click();
        }
    });
    window.close();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.Session().LineUp());
    SetMessageSink([this](const QString& text) { messages.push_back(text); });
    window.close();
    EXPECT_EQ(messages, QStringList{"Telvora is connected. Disconnect and close?"});
    EXPECT_EQ(window.Session().LiveConnections(), 0);
    EXPECT_TRUE(OnPeer([&] { return peer.WaitForClose(); }));
}

TEST_F(TelnetSession, AMovieGivesWayToTelnetAndTelnetToAnotherConnection) {
    const QString movie = QDir::temp().filePath(QStringLiteral("telvora-switch.ata"));
    {
        QFile file(movie);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(2000, 'm'));
    }
    window.Entry("N300BPS1")->trigger();
    ASSERT_TRUE(window.Session().PlayMovie(FileNameToSystem(movie)));
    ASSERT_NE(window.Session().Player(), nullptr);
    Connect();
    EXPECT_EQ(window.Session().Player(), nullptr);
    EXPECT_TRUE(Enabled("M_PlayMovie"));
    EXPECT_FALSE(Enabled("M_StopMovie"));
    EXPECT_EQ(window.Screen()->Cell(1, 1), ' ') << "the screen was not cleared";
    ASSERT_TRUE(window.Session().PlayMovie(FileNameToSystem(movie)));
    EXPECT_EQ(window.Session().TelnetConn(), nullptr);
    EXPECT_TRUE(OnPeer([&] { return peer.WaitForClose(); }));
    EXPECT_TRUE(Enabled("M_TelnetStart"));
    window.Session().StopConnection();
    QFile::remove(movie);
}

TEST_F(TelnetSession, DisconnectWithNothingRunningChangesNothing) {
    window.Entry("M_TelnetStop")->setEnabled(true); // as if chosen anyway
    window.Entry("M_TelnetStop")->trigger();
    window.Entry("Disconnect1")->setEnabled(true);
    window.Entry("Disconnect1")->trigger();
    EXPECT_EQ(window.Session().RunningConnection(), nullptr);
    EXPECT_FALSE(window.Session().Stopping());
    ExpectIdleMenus();
}

TEST_F(TelnetSession, TheHostDirectoryConnectsToTheChosenHost) {
    ASSERT_NE(window.Dialer(), nullptr);
    // First the user saves the BBS and leaves with "Close": nothing starts.
    SaveNewEntry(QStringLiteral("Loopback BBS"));
    EXPECT_EQ(window.Session().TelnetConn(), nullptr);
    // The empty row gives no host: nothing starts either.
    UseDirectory([this] { CallRow(2); });
    EXPECT_EQ(window.Session().TelnetConn(), nullptr);
    // Then Connect on its row.
    window.Session().SetColumns(80);
    UseDirectory([this] { CallRow(1); });
    ASSERT_NE(window.Session().TelnetConn(), nullptr);
    EXPECT_TRUE(OnPeer([&] { return peer.Accept(); }));
    // An entry left at 40 connects in 40, whatever the screen had.
    EXPECT_EQ(window.Session().Columns(), 40);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("; ").toStdString();
}

TEST_F(TelnetSession, ARawEntryOfTheDirectoryConnectsByRawTcpAndKeepsEveryByte) {
    // An XEP80 board: the entry's width applies as it connects.
    SaveNewEntry("Raw Board", "Raw", "80");
    ASSERT_NE(window.Session().TelnetConn(), nullptr);
    EXPECT_EQ(window.Session().Columns(), 80);
    EXPECT_TRUE(window.Entry("Columns80")->isChecked());
    ASSERT_NO_FATAL_FAILURE(AnswerCall());
    EXPECT_TRUE(Enabled("M_TelnetStop"));
    ExpectRawLine();

    // The insert-character code and the byte after it arrive as sent.
    Send({'A', 'B', 'C', 'D', 255, 'E', 'F', 255, 'G'});
    ASSERT_TRUE(ProcessEventsUntil([&] { return window.Screen()->Cell(7, 1) == 'G'; }));
    // Nothing went out on the program's own: the first bytes the board gets are the keys.
    Press(Qt::Key_Return, Qt::NoModifier, "\r");
    Press(Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(Receive(2), (std::vector<std::uint8_t>{155, 255}));
    EXPECT_TRUE(messages.isEmpty()) << messages.join("; ").toStdString();
}

// A Telnet entry whose board turns out to be a plain TCP bridge: the window
// asks once (answered Yes here) and the entry is called again over raw TCP.
TEST_F(TelnetSession, ATelnetEntryWhoseBoardSpeaksNoTelnetIsSwitchedToRawWhenTheUserAgrees) {
    SaveNewEntry("Bridge", "Telnet", "40");
    ASSERT_NO_FATAL_FAILURE(AnswerCall());
    // A bridge passes the insert-character code on as it is.
    Send({255, 'A', 155});
    ASSERT_TRUE(WaitForAnyMessage());
    EXPECT_EQ(messages.front(), "\"Bridge\" answers like a plain TCP bridge, not a Telnet "
                                "server. Switch this entry to Raw TCP and call it again?");
    peer.CloseConnection();
    ASSERT_NO_FATAL_FAILURE(AnswerCall());
    ExpectRawLine();
    EXPECT_EQ(window.Session().LastEntry().Protocol, THostProtocol::Raw) << "kept with the entry";
}

TEST_F(TelnetSession, CopyThenPasteTypesBackTheSameCodesAndTextIsMapped) {
    Connect();
    window.Session().Typist().SetPace({1, 2}); // fast, for the test
    Send({'A', 'B', 0xC3, 155, 'D', 'E'});
    ASSERT_TRUE(ProcessEventsUntil([&] { return window.Screen()->Cell(2, 2) == 'E'; }));
    window.Entry("SelectAll1")->trigger();
    window.Entry("Copy1")->trigger();
    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(copied, nullptr);
    // The text form: inverse as plain, trailing blanks gone, a line a row.
    EXPECT_TRUE(copied->text().startsWith(QStringLiteral("ABC\nDE\n\n")));
    window.Entry("Paste1")->trigger();
    std::vector<std::uint8_t> expected = {'A', 'B', 0xC3, 155, 'D', 'E'};
    expected.insert(expected.end(), 22, 155);
    EXPECT_EQ(Receive(expected.size()), expected) << "the same codes, inverse video included";
    ASSERT_TRUE(ProcessEventsUntil([&] { return !window.Session().Typing(); }));

    // Plain text: every kind of line end, a tab, and a letter with no code.
    QGuiApplication::clipboard()->setText(QString::fromUtf8("x\r\ny\rz\n\tq\u00e9"));
    window.Entry("Paste1")->trigger();
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return window.StatusPanel2()->text().contains(QStringLiteral("1 skipped")); }));
    EXPECT_EQ(Receive(8), (std::vector<std::uint8_t>{'x', 155, 'y', 155, 'z', 155, 127, 'q'}));
    ASSERT_TRUE(ProcessEventsUntil([&] { return !window.Session().Typing(); }));
    EXPECT_TRUE(window.StatusPanel2()->text().contains(QStringLiteral("1 skipped")))
        << "what a paste skipped stays in sight after it has ended";

    // Escape stops a paste; nothing more goes out.
    window.Session().Typist().SetPace({30, 30});
    QGuiApplication::clipboard()->setText(QString(200, QLatin1Char('w')));
    window.Entry("Paste1")->trigger();
    ProcessEventsFor(100);
    Press(Qt::Key_Escape, Qt::NoModifier);
    EXPECT_FALSE(window.Session().Typing());
    const std::size_t typed = OnPeer([&] { return peer.Read(200, 300).size(); });
    EXPECT_LT(typed, 20U);
    EXPECT_TRUE(OnPeer([&] { return peer.Read(1, 200).empty(); }));
}

TEST_F(TelnetSession, AKeyReturnsTheViewToTheLiveScreen) {
    Connect();
    std::vector<std::uint8_t> lines;
    for (int i = 0; i < 40; ++i) {
        lines.push_back(static_cast<std::uint8_t>('A' + i % 26));
        lines.push_back(155);
    }
    Send(lines);
    ASSERT_TRUE(ProcessEventsUntil([&] { return window.Screen()->ScrollbackRows() == 17; }));
    for (const auto& [key, modifiers, text] : {std::tuple{Qt::Key_PageDown, Qt::ShiftModifier, ""},
                                               {Qt::Key_End, Qt::ShiftModifier, ""},
                                               {Qt::Key_K, Qt::NoModifier, "k"}}) {
        Press(Qt::Key_PageUp, Qt::ShiftModifier);
        EXPECT_EQ(window.Screen()->ViewBack(), 17) << "a page back, as far as there is";
        EXPECT_TRUE(window.StatusPanel2()->text().contains(QStringLiteral("17 of 17 rows back")))
            << window.StatusPanel2()->text().toStdString();
        Press(key, modifiers, QString::fromLatin1(text));
        EXPECT_EQ(window.Screen()->ViewBack(), 0) << key;
    }
    EXPECT_EQ(Receive(1), std::vector<std::uint8_t>{'k'});
    window.Entry("ClearScrollback1")->trigger();
    EXPECT_EQ(window.Screen()->ScrollbackRows(), 0);
}

} // namespace
