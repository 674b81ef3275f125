// Serial sessions as a user has them: the window attaches to one end of a
// socat pseudo-terminal pair (a null-modem cable), the test plays the other
// machine on the far end.

#include "session_test_support.h"

#include "app/serial_commands.h"
#include "app/serial_memory.h"
#include "directory/qt_settings_store.h"

#include "connection/serial/extended_comm.h"
#include "connection/serial_connection.h"

#include "loopback_peer.h"
#include "pty_pair.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <random>
#include <thread>

using namespace telvora;
using namespace telvora::test;

namespace {

class SerialSession : public SessionTest {
protected:
    void Attach() {
        ASSERT_TRUE(window.Session().AttachSerial(line.Local()));
        ASSERT_TRUE(ProcessEventsUntil([&] { return Status().second.startsWith("Connected"); }));
    }
    void SendFromFarEnd(const std::string& text) {
        ASSERT_TRUE(OnPeer([&] { return line.WriteRemote(text.data(), text.size()); }));
    }
    std::string ReadAtFarEnd(std::size_t count) {
        return OnPeer([&] {
            std::string text(count, '\0');
            text.resize(line.ReadRemote(text.data(), count));
            return text;
        });
    }

    // Presses a button of the port selection once it is up.
    void AnswerPortSelectionWith(QPushButton* TSelectPort::*button) {
        QTimer::singleShot(50, &window, [button] {
            if (auto* select = qobject_cast<TSelectPort*>(QApplication::activeModalWidget())) {
                (select->*button)->click();
            }
        });
    }

    TPtyPair line;
};

TEST_F(SerialSession, BytesGoBothWaysAndTheStatusNamesThePort) {
    Attach();
    EXPECT_EQ(Status().first, "SERIAL 19200 8N1");
    EXPECT_EQ(Status().second, QString::fromStdString("Connected to " + line.Local()));
    EXPECT_FALSE(Enabled("AttachToSerialPort1"));
    EXPECT_TRUE(Enabled("Disconnect1"));
    EXPECT_TRUE(window.DownloadMenu()->isEnabled());

    SendFromFarEnd("READY\x9bSECOND LINE");
    ASSERT_TRUE(ProcessEventsUntil([&] { return RowStartsWith(2, "SECOND LINE"); }));
    EXPECT_TRUE(RowStartsWith(1, "READY"));

    Press(Qt::Key_H, Qt::NoModifier, "h");
    Press(Qt::Key_I, Qt::ShiftModifier, "I");
    Press(Qt::Key_Return, Qt::NoModifier, "\r");
    EXPECT_EQ(ReadAtFarEnd(3), "hI\x9b");
}

// The port's own events hold it for a moment now and then; keys typed
// meanwhile wait for it instead of being lost.
TEST_F(SerialSession, KeysTypedWhileThePortIsBusyAllArrive) {
    Attach();
    auto* serial = qobject_cast<TSerialConnection*>(window.Session().SerialConn());
    ASSERT_NE(serial, nullptr);
    std::atomic<bool> busy{true};
    std::thread holder([&] {
        while (busy) {
            serial->CommPort().CarrierDetected();
        }
    });
    const std::string keys(300, 'k');
    for (const char key : keys) {
        window.Session().SendKey(static_cast<std::uint8_t>(key));
    }
    busy = false;
    holder.join();
    EXPECT_EQ(ReadAtFarEnd(keys.size()), keys);
}

TEST(SerialMemory, OutlivesASaveOfTheHostDirectory) {
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    TSerialSettings settings;
    settings.Speed = 9600;
    settings.Flow = TSerialFlow::RtsCts;
    RememberSerialSettings(settings);
    RememberSerialPort("/dev/ttyS3");
    TQtSettingsStore store;
    THostDirectory directory(store);
    directory.LoadHosts();
    directory.Edits() = THostRow{"bbs.example.org", "23", "Board"};
    EXPECT_EQ(directory.SaveAsNew(), THostEditResult::Saved);
    EXPECT_EQ(RememberedSerialSettings(), settings);
    EXPECT_EQ(RememberedSerialPort(), "/dev/ttyS3");
    qputenv("HOME", oldHome);
}

TEST_F(SerialSession, TheLineStaysAt19200WhateverTheSpeedMenuSays) {
    window.Entry("N300BPS1")->trigger();
    Attach();
    auto* serial = qobject_cast<TSerialConnection*>(window.Session().SerialConn());
    ASSERT_NE(serial, nullptr);
    EXPECT_EQ(serial->CommPort().BaudRate(), TBaudrate::br19200);
    EXPECT_EQ(serial->Delay(), 27);
}

TEST_F(SerialSession, DetachClosesThePortAndRestoresTheMenus) {
    Attach();
    window.Entry("Disconnect1")->trigger();
    ASSERT_TRUE(WaitForEnd());
    ExpectIdleMenus();
    EXPECT_EQ(Status().first, "READY");
    // The port is free again: it can be attached once more.
    Attach();
    SendFromFarEnd("AGAIN");
    ASSERT_TRUE(ProcessEventsUntil([&] { return RowStartsWith(1, "AGAIN"); }));
}

TEST_F(SerialSession, TheFarEndGoingAwayShowsWhatCameAndEndsTheLine) {
    window.Entry("N300BPS1")->trigger();
    Attach();
    SendFromFarEnd("LAST WORDS");
    // Once the first letter shows, the words have crossed the line (not
    // still inside socat, which the hang-up ends); most are still to be shown.
    ASSERT_TRUE(ProcessEventsUntil([&] { return window.Screen()->Cell(1, 1) == 'L'; }));
    line.Hangup();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(RowStartsWith(1, "LAST WORDS")) << Row(1);
    ASSERT_TRUE(WaitForAnyMessage());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.first().startsWith("The line was hung up"))
        << messages.first().toStdString();
    EXPECT_FALSE(window.Session().LastConnectionFailed());
    ExpectIdleMenus();
}

TEST_F(SerialSession, APortThatCannotBeOpenedIsReportedAndNothingIsLeftRunning) {
    ASSERT_TRUE(window.Session().AttachSerial("/dev/telvora-no-such-port"));
    ASSERT_TRUE(WaitForEnd());
    ASSERT_TRUE(WaitForAnyMessage());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.first().contains("telvora-no-such-port"))
        << messages.first().toStdString();
    EXPECT_TRUE(window.Session().LastConnectionFailed());
    ExpectIdleMenus();
}

TEST_F(SerialSession, AFloodLargerThanTheFifoArrivesWholeAndInOrder) {
    // At 300 bps the FIFO fills at once; what does not fit stays in the
    // driver until it drains, then the throttle goes off.
    window.Entry("N300BPS1")->trigger();
    Attach();
    std::string flood(120000, ' ');
    std::mt19937 random(3);
    for (char& c : flood) {
        c = static_cast<char>('A' + random() % 26);
    }
    flood += "\x9b"
             "END";
    auto writing = std::async(std::launch::async,
                              [&] { return line.WriteRemote(flood.data(), flood.size(), 30000); });
    ProcessEventsFor(700);
    window.Entry("FullSpeed1")->trigger();
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return writing.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        30000));
    EXPECT_TRUE(writing.get());
    // The last row shows the end of the flood, the row above its last letters.
    ASSERT_TRUE(ProcessEventsUntil([&] { return ScreenShows("END"); }, 30000));
    const int rows = window.Screen()->Rows();
    const std::size_t lastLetters = (flood.size() - 4) % 40;
    const std::string tail = flood.substr(flood.size() - 4 - lastLetters, lastLetters);
    EXPECT_TRUE(RowStartsWith(rows - 1, tail)) << Row(rows - 1) << " / " << tail;
    EXPECT_TRUE(messages.isEmpty()) << messages.join("; ").toStdString();
}

TEST_F(SerialSession, ThePortSelectionAttachesToTheChosenPort) {
    window.Serial().SetPortSource([this] { return std::vector<std::string>{line.Local()}; });
    AnswerPortSelectionWith(&TSelectPort::BitBtn1); // OK
    window.Entry("AttachToSerialPort1")->trigger();
    ASSERT_NE(window.Session().SerialConn(), nullptr);
    ASSERT_TRUE(ProcessEventsUntil([&] { return Status().second.startsWith("Connected"); }));
}

TEST_F(SerialSession, WithNoPortsListedATypedPathIsAttached) {
    window.Serial().SetPortSource([] { return std::vector<std::string>{}; });
    QTimer::singleShot(50, &window, [this] {
        if (auto* select = qobject_cast<TSelectPort*>(QApplication::activeModalWidget())) {
            select->ComboBox1->setEditText(QString::fromStdString(" " + line.Local() + " "));
            select->BitBtn1->click();
        }
    });
    window.Entry("AttachToSerialPort1")->trigger();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Status().second.startsWith("Connected"); }));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(SerialSession, ACancelledSelectionLeavesTheRunningLineAlone) {
    Attach();
    TConnectionThread* running = window.Session().SerialConn();
    window.Serial().SetPortSource([this] { return std::vector<std::string>{line.Local()}; });
    AnswerPortSelectionWith(&TSelectPort::BitBtn2);        // Cancel
    window.Entry("AttachToSerialPort1")->setEnabled(true); // from the other kind's menu
    window.Entry("AttachToSerialPort1")->trigger();
    EXPECT_EQ(window.Session().SerialConn(), running);
}

TEST_F(SerialSession, AttachingEndsARunningTelnetSession) {
    LoopbackPeer bbs;
    ASSERT_TRUE(window.Session().ConnectTelnet("127.0.0.1", bbs.PortText()));
    ASSERT_TRUE(OnPeer([&] { return bbs.Accept(); }));
    Attach();
    EXPECT_EQ(window.Session().TelnetConn(), nullptr);
    EXPECT_TRUE(OnPeer([&] { return bbs.WaitForClose(); }));
    EXPECT_TRUE(Enabled("M_TelnetStart"));
    EXPECT_FALSE(Enabled("M_TelnetStop"));
    EXPECT_TRUE(window.DownloadMenu()->isEnabled());
    Press(Qt::Key_K, Qt::NoModifier, "k");
    EXPECT_EQ(ReadAtFarEnd(1), "k");
    EXPECT_TRUE(messages.isEmpty()) << messages.join("; ").toStdString();
}

TEST_F(SerialSession, ClosingTheWindowWhileAttachedEndsTheLine) {
    Attach();
    window.close();
    EXPECT_EQ(window.Session().LiveConnections(), 0);
}

} // namespace
