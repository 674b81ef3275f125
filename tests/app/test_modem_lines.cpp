// Serial lines with the user's settings, read back from the port with stty,
// and modem calls through a Hayes modem of the tests' own (test_modem.h) on
// the far end of a pty pair, to a loopback board: from the window's session
// and from the command line.

#include "session_test_support.h"

#include "connection/serial_connection.h"
#include "directory/dialer.h"

#include "loopback_peer.h"
#include "pty_pair.h"
#include "run_telvora.h"
#include "test_modem.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>

#include <array>
#include <cstdio>
#include <future>
#include <thread>
#include <unistd.h>

using namespace telvora;
using namespace telvora::test;

namespace {

// What stty says of the port while we hold it.
std::string Stty(const std::string& device) {
    std::string out;
    if (FILE* pipe = popen(("stty -a -F " + Quote(device) + " 2>&1").c_str(), "r")) {
        std::array<char, 4096> buffer{};
        while (std::size_t count = fread(buffer.data(), 1, buffer.size(), pipe)) {
            out.append(buffer.data(), count);
        }
        pclose(pipe);
    }
    return " " + out + " ";
}

// The port is held exclusively while a line runs; only root may open it then.
bool HeldPortsReadable() {
    return geteuid() == 0;
}

// A word of stty's list, or the speed.
bool Has(const std::string& stty, const std::string& word) {
    std::string spaced = stty;
    std::replace_if(
        spaced.begin(), spaced.end(), [](char c) { return c == '\n' || c == ';'; }, ' ');
    return spaced.find(" " + word + " ") != std::string::npos;
}

struct SettingsCase {
    const char* format;
    int speed;
    TSerialFlow flow;
    std::vector<std::string> words;
};

// A pseudo-terminal keeps 8 data bits and no parity whatever it is told
// (Linux sets CS8 and clears PARENB on every change); the rest reads back.
const SettingsCase kSettingsCases[] = {
    {"8N1", 19200, TSerialFlow::None, {"cs8", "-parenb", "-cstopb", "-crtscts", "-ixon", "-ixoff"}},
    {"8N1", 9600, TSerialFlow::RtsCts, {"-cstopb", "crtscts", "-ixon", "-ixoff"}},
    {"8N2", 300, TSerialFlow::XonXoff, {"cstopb", "-crtscts", "ixon", "ixoff"}},
    {"8N2", 230400, TSerialFlow::None, {"cstopb", "-crtscts"}},
};

template <typename T> T* Child(QObject* parent, const char* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

// A board on loopback: greets the caller, keeps what it gets, and hangs up
// when told (or when its time is up).
struct Board {
    explicit Board(std::string greeting) {
        thread = std::thread([this, greeting] {
            if (!peer.Accept()) {
                return;
            }
            peer.SendText(greeting);
            // What the caller sends stays for the test to read.
            while (!hangUp.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            peer.CloseConnection();
        });
    }
    ~Board() {
        hangUp = true;
        thread.join();
    }
    std::string Number() const { return "127.0.0.1:" + std::to_string(peer.Port()); }

    LoopbackPeer peer;
    std::atomic<bool> hangUp{false};
    std::thread thread;
};

class ModemLine : public SessionTest {
protected:
    TModemSettings Modem(const std::string& number, int redials = 0) const {
        TModemSettings modem;
        modem.Number = number;
        modem.Redials = redials;
        modem.RedialPause = std::chrono::milliseconds(100);
        return modem;
    }
    TPtyPair line;
    TTestModem modem{line.RemoteFd(), 1};
};

TEST_F(ModemLine, EverySettingReadsBackFromThePort) {
    if (!HeldPortsReadable()) {
        GTEST_SKIP() << "only root can read back a port held exclusively";
    }
    for (const SettingsCase& c : kSettingsCases) {
        TSerialSettings settings;
        ASSERT_TRUE(ParseSerialFormat(c.format, settings));
        settings.Speed = c.speed;
        settings.Flow = c.flow;
        window.Session().SetSerialSettings(settings);
        ASSERT_TRUE(window.Session().AttachSerial(line.Local()));
        ASSERT_TRUE(ProcessEventsUntil([&] { return window.Session().LineUp(); }));
        EXPECT_EQ(Status().first, QString::fromStdString("SERIAL " + settings.Text()));
        const std::string stty = Stty(line.Local());
        EXPECT_TRUE(Has(stty, "speed " + std::to_string(c.speed) + " baud")) << stty;
        for (const std::string& word : c.words) {
            EXPECT_TRUE(Has(stty, word)) << c.format << ": " << word << " in " << stty;
        }
        window.Session().StopConnection();
        ASSERT_TRUE(WaitForEnd());
    }
}

TEST_F(ModemLine, ASettingThePortRefusesIsNamedAndTheLineStaysAsItWas) {
    const std::string before = Stty(line.Local());
    for (const auto& [format, refused] : {std::pair{"7N1", "7 data bits"}, {"8O1", "odd parity"}}) {
        TSerialSettings settings;
        ASSERT_TRUE(ParseSerialFormat(format, settings));
        settings.Speed = 1200;
        window.Session().SetSerialSettings(settings);
        messages.clear();
        ASSERT_TRUE(window.Session().AttachSerial(line.Local()));
        ASSERT_TRUE(WaitForEnd());
        ASSERT_TRUE(WaitForAnyMessage());
        EXPECT_TRUE(messages.first().contains(QStringLiteral("does not take ") + refused))
            << messages.first().toStdString();
        EXPECT_TRUE(window.Session().LastConnectionFailed());
        EXPECT_EQ(Stty(line.Local()), before);
    }
}

TEST_F(ModemLine, ACallIsRedialledWhenBusyConnectsAndIsHungUpOnDisconnect) {
    Board board("WELCOME\x9b");
    ASSERT_TRUE(window.Session().DialModem(line.Local(), Modem(board.Number(), 1)));
    EXPECT_FALSE(window.Session().LineUp());
    ASSERT_TRUE(ProcessEventsUntil([&] { return ScreenShows("WELCOME"); }));
    EXPECT_TRUE(window.Session().LineUp());
    // The modem's answers were shown as lines while it dialled.
    EXPECT_TRUE(ScreenShows("BUSY"));
    EXPECT_TRUE(ScreenShows("CONNECT 9600"));
    EXPECT_TRUE(Status().second.contains("CONNECT 9600")) << Status().second.toStdString();
    const std::vector<std::string> dialled{"ATZ", "ATDT" + board.Number(), "ATDT" + board.Number()};
    EXPECT_EQ(modem.Commands(), dialled);
    // Online, keys are ATASCII again.
    Press(Qt::Key_Return, Qt::NoModifier, "\r");
    EXPECT_EQ(OnPeer([&] { return board.peer.Read(1); }), Bytes("\x9b"));

    window.Entry("Disconnect1")->trigger();
    // Attached again at once: the port opens only after the hang-up let it go.
    ASSERT_TRUE(window.Session().AttachSerial(line.Local()));
    EXPECT_EQ(window.Session().LiveConnections(), 1);
    EXPECT_TRUE(modem.WaitForCommand("ATH0")) << modem.Received();
    EXPECT_NE(modem.Received().find("+++"), std::string::npos);
    EXPECT_FALSE(modem.Online());
    // Commands end in CR, never in the Atari's End Of Line.
    EXPECT_EQ(modem.Received().find('\x9b'), modem.Received().rfind('\x9b'));
}

// A call started while one is up (Redial, another entry on the port) waits
// for the first to be hung up before its own commands go out.
TEST_F(ModemLine, DialingAgainWhileOnlineHangsUpFirst) {
    Board board("AGAIN\x9b");
    ASSERT_TRUE(window.Session().DialModem(line.Local(), Modem(board.Number(), 1)));
    ASSERT_TRUE(ProcessEventsUntil([&] { return ScreenShows("AGAIN"); }));
    ASSERT_TRUE(window.Session().DialModem(line.Local(), Modem(board.Number())));
    ASSERT_TRUE(ProcessEventsUntil([&] { return modem.Commands().size() >= 6; }))
        << modem.Received();
    const std::string number = "ATDT" + board.Number();
    EXPECT_EQ(modem.Commands(),
              (std::vector<std::string>{"ATZ", number, number, "ATH0", "ATZ", number}));
}

TEST_F(ModemLine, NoCarrierEndsTheSessionAsARemoteClose) {
    Board board("HELLO\x9b");
    ASSERT_TRUE(window.Session().DialModem(line.Local(), Modem(board.Number(), 1)));
    ASSERT_TRUE(ProcessEventsUntil([&] { return ScreenShows("HELLO"); }));
    board.hangUp = true;
    ASSERT_TRUE(WaitForEnd());
    ASSERT_TRUE(WaitForMessage("Connection closed by remote host."));
    EXPECT_FALSE(window.Session().LastConnectionFailed());
    // Nothing is sent after the modem's own NO CARRIER.
    EXPECT_FALSE(modem.WaitForCommand("ATH0", 300));
    ExpectIdleMenus();
}

TEST_F(ModemLine, AModemEntryOfTheHostDirectoryDialsWithItsOwnLineAndCall) {
    Board board("ENTRY\x9b");
    TDialer* dialer = window.Dialer();
    QSettings(QStringLiteral("Marrowby"), QStringLiteral("Telvora")).clear();
    QTimer::singleShot(50, dialer, [&] {
        Child<QLineEdit>(dialer, "Edit1")->setText(QString::fromStdString(line.Local()));
        Child<QLineEdit>(dialer, "Edit3")->setText("9600 8N2 xonxoff");
        Child<QLineEdit>(dialer, "Edit2")->setText("Board");
        Child<QComboBox>(dialer, "ComboBox1")->setCurrentIndex(3); // Modem
        QTimer::singleShot(50, dialer, [&] {
            QWidget* call = QApplication::activeModalWidget();
            Child<QLineEdit>(call, "NumberEdit")->setText(QString::fromStdString(board.Number()));
            Child<QLineEdit>(call, "InitEdit")->setText("ATZ&F");
            Child<QSpinBox>(call, "RedialBox")->setValue(1);
            qobject_cast<QDialog*>(call)->accept();
        });
        Child<QPushButton>(dialer, "ModemButton")->click();
        Child<QPushButton>(dialer, "BitBtn1")->click(); // Save As New
        dialer->HyperGrid1EnterRow(1);
        Child<QPushButton>(dialer, "BitBtn3")->click(); // Connect
    });
    window.Entry("M_TelnetStart")->trigger();
    ASSERT_TRUE(ProcessEventsUntil([&] { return ScreenShows("ENTRY"); }));
    EXPECT_EQ(Status().first, "SERIAL 9600 8N2");
    if (HeldPortsReadable()) {
        EXPECT_TRUE(Has(Stty(line.Local()), "ixon"));
    }
    EXPECT_EQ(modem.Commands().front(), "ATZ&F");
    EXPECT_EQ(modem.Commands().size(), 3u) << "redialled once when busy";
    EXPECT_EQ(window.Session().SerialSettings(), TSerialSettings{}) << "the next attach's stay";
}

TEST_F(ModemLine, ACallThatStaysBusyFailsAfterItsLastTry) {
    ASSERT_TRUE(window.Session().DialModem(line.Local(), Modem("BUSY", 2)));
    ASSERT_TRUE(WaitForEnd());
    ASSERT_TRUE(WaitForMessage("The call could not be made: BUSY"));
    EXPECT_TRUE(window.Session().LastConnectionFailed());
    EXPECT_EQ(modem.Commands().size(), 4u); // ATZ and three dials
}

TEST_F(ModemLine, CommandModeOnAPlainLineSpeaksAsciiUntilTheModemConnects) {
    Board board("ONLINE\x9b");
    ASSERT_TRUE(window.Session().AttachSerial(line.Local()));
    ASSERT_TRUE(ProcessEventsUntil([&] { return window.Session().LineUp(); }));
    window.Entry("ModemCommandMode1")->trigger();
    EXPECT_TRUE(window.Session().ModemCommandMode());
    for (const char c : std::string("ATX")) {
        window.Session().SendKey(static_cast<std::uint8_t>(c));
    }
    Press(Qt::Key_Backspace, Qt::NoModifier);
    Press(Qt::Key_Return, Qt::NoModifier, "\r");
    ASSERT_TRUE(ProcessEventsUntil([&] { return modem.WaitForCommand("ATX\b", 0); }))
        << modem.Received();
    ASSERT_TRUE(ProcessEventsUntil([&] { return RowStartsWith(3, "OK"); })) << Row(1) << Row(2);
    // The modem is busy at the first call.
    for (const char* answer : {"BUSY", "ONLINE"}) {
        for (const char c : "ATDT" + board.Number()) {
            window.Session().SendKey(static_cast<std::uint8_t>(c));
        }
        Press(Qt::Key_Return, Qt::NoModifier, "\r");
        ASSERT_TRUE(ProcessEventsUntil([&] { return ScreenShows(answer); }));
    }
    EXPECT_FALSE(window.Session().ModemCommandMode());
    EXPECT_TRUE(
        ProcessEventsUntil([&] { return !window.Entry("ModemCommandMode1")->isChecked(); }));
}

// The command line: settings from its options, and a call whose exit status
// says whether it could be made.
TEST(ModemCommandLine, SettingsFromTheOptionsReadBackFromThePort) {
    if (!HeldPortsReadable()) {
        GTEST_SKIP() << "only root can read back a port held exclusively";
    }
    TPtyPair line;
    auto run = std::async(std::launch::async, [&] {
        return RunTelvora("--headless --exit-after 3 --serial " + Quote(line.Local()) +
                          " --baud 9600 --format 8N2 --flow rtscts");
    });
    std::string stty;
    for (int i = 0; i < 100 && !Has(stty, "crtscts"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        stty = Stty(line.Local());
    }
    EXPECT_TRUE(Has(stty, "speed 9600 baud")) << stty;
    for (const char* word : {"cstopb", "crtscts", "-ixon"}) {
        EXPECT_TRUE(Has(stty, word)) << word << " in " << stty;
    }
    EXPECT_EQ(run.get().status, 0);
}

TEST(ModemCommandLine, ACallReachesTheBoardAndNoCarrierEndsTheRun) {
    TPtyPair line;
    TTestModem modem(line.RemoteFd(), 1);
    Board board("WELCOME TO THE BOARD\x9b");
    auto run = std::async(std::launch::async, [&] {
        return RunTelvora("--headless --exit-when-done --dump-text --serial " +
                          Quote(line.Local()) + " --dial " + board.Number() + " --redial 1");
    });
    for (int i = 0; i < 300 && !modem.Online(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    board.hangUp = true;
    const Outcome outcome = run.get();
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("WELCOME TO THE BOARD"), std::string::npos) << outcome.out;
    EXPECT_EQ(modem.Commands().size(), 3u);
}

TEST(ModemCommandLine, QuittingHangsTheCallUp) {
    TPtyPair line;
    TTestModem modem(line.RemoteFd());
    Board board("HI\x9b");
    const Outcome outcome = RunTelvora("--headless --exit-after 1 --serial " + Quote(line.Local()) +
                                       " --dial " + board.Number());
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(modem.Received().find("+++"), std::string::npos) << modem.Received();
    EXPECT_TRUE(modem.WaitForCommand("ATH0")) << modem.Received();
    EXPECT_FALSE(modem.Online());
}

TEST(ModemCommandLine, ACallThatCannotBeMadeExitsWithStatusOne) {
    TPtyPair line;
    TTestModem modem(line.RemoteFd());
    const Outcome outcome = RunTelvora("--headless --exit-when-done --serial " +
                                       Quote(line.Local()) + " --dial BUSY --init ATZ0");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("The call could not be made: BUSY"), std::string::npos)
        << outcome.err;
    EXPECT_EQ(modem.Commands(), (std::vector<std::string>{"ATZ0", "ATDTBUSY"}));
}

} // namespace
