// The session on its own, with no widget at all: its screen model, and real
// peers on loopback and a pseudo-terminal pair.
#include "app/session.h"
#include "connection/live_connection.h"
#include "directory/memory_settings_store.h"

#include "blocked_lookup.h"
#include "kept_bytes.h"
#include "loopback_peer.h"
#include "pty_pair.h"
#include "qt_event_wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <vector>

using namespace telvora;

namespace {

using Kind = TConnectionThread::Kind;

using test::BlockedLookup;
using test::KeptBytes;

class SessionCore : public ::testing::Test {
protected:
    void SetUp() override {
        QObject::connect(&session, &TSession::Started,
                         [this](Kind kind) { started.push_back(kind); });
        QObject::connect(&session, &TSession::LineCameUp, [this] { ++linesUp; });
        QObject::connect(&session, &TSession::Ended, [this](const QString& message, bool failed) {
            ended.push_back({message, failed});
        });
        QObject::connect(&session, &TSession::Notice,
                         [this](const QString& text) { notices.push_back(text); });
    }
    void TearDown() override {
        BlockedLookup::Release();
        session.ShutDown();
    }

    // Runs body on a thread of its own while the event loop is served.
    template <typename Body> auto OnPeer(Body body) {
        auto result = std::async(std::launch::async, body);
        EXPECT_TRUE(ProcessEventsUntil(
            [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        return result.get();
    }
    void PeerSends(const std::string& text) { PeerSendsBytes({text.begin(), text.end()}); }
    void PeerSendsBytes(const std::vector<std::uint8_t>& bytes) {
        OnPeer([&] {
            peer.SendAll(bytes);
            return true;
        });
    }
    std::vector<std::uint8_t> PeerReads(std::size_t count,
                                        int timeoutMs = LoopbackPeer::kTimeoutMs) {
        return OnPeer([&] { return peer.Read(count, timeoutMs); });
    }
    // A machine for the next transfer that keeps what it is given (up to end).
    std::shared_ptr<KeptBytes> KeptMachine(std::string end = {}) {
        auto kept = std::make_shared<KeptBytes>(std::move(end));
        session.SetMachineMaker(kept->Maker());
        return kept;
    }
    std::string InFolder(const QString& name) {
        return QFile::encodeName(folder.filePath(name)).toStdString();
    }
    std::string SlowMovie() {
        QFile file(folder.filePath(QStringLiteral("slow.ata")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(2000, 'm'));
        return InFolder(QStringLiteral("slow.ata"));
    }
    void ConnectToPeer() {
        ASSERT_TRUE(session.ConnectTelnet("127.0.0.1", peer.PortText()));
        PeerAnswers();
    }
    // The peer takes the call and the line comes up (the upCount-th time).
    void PeerAnswers(int upCount = 1) {
        ASSERT_TRUE(OnPeer([&] { return peer.Accept(); }));
        ASSERT_TRUE(ProcessEventsUntil([&] { return linesUp >= upCount; }));
    }

    struct TEnd {
        QString message;
        bool failed;
    };
    QTemporaryDir folder;
    TSession session;
    SharedScreen& screen = session.Screen();
    LoopbackPeer peer;
    std::vector<Kind> started;
    int linesUp = 0;
    std::vector<TEnd> ended;
    QStringList notices;
};

TEST_F(SessionCore, StartsStopsAndSwitchesFromOneKindToAnother) {
    EXPECT_EQ(session.RunningConnection(), nullptr);
    session.SetSpeed(300);
    ASSERT_TRUE(session.PlayMovie(SlowMovie()));
    EXPECT_EQ(started, std::vector<Kind>{Kind::Movie});
    ASSERT_NE(session.Player(), nullptr);
    EXPECT_EQ(session.Player()->Speed(), 300);
    EXPECT_EQ(session.StatusMonitor().Connection(), session.Player());

    // A Telnet connection stops the movie first, then clears the screen.
    ConnectToPeer();
    EXPECT_EQ(started, (std::vector<Kind>{Kind::Movie, Kind::Telnet}));
    EXPECT_EQ(session.Player(), nullptr);
    ASSERT_EQ(ended.size(), 1U);
    EXPECT_EQ(ended[0].message, "");
    EXPECT_FALSE(ended[0].failed);
    EXPECT_EQ(screen.Cell(1, 1), ' ');
    EXPECT_TRUE(session.LineUp());
    EXPECT_EQ(linesUp, 1);

    // Keys reach the line only while it runs.
    EXPECT_TRUE(session.SendKey('K'));
    EXPECT_EQ(PeerReads(1), std::vector<std::uint8_t>{'K'});

    session.StopConnection();
    EXPECT_EQ(session.RunningConnection(), nullptr);
    EXPECT_FALSE(session.Stopping());
    EXPECT_EQ(session.StatusMonitor().Connection(), nullptr);
    EXPECT_TRUE(ProcessEventsUntil([&] { return ended.size() == 2; }));
    EXPECT_FALSE(ended[1].failed);
    EXPECT_FALSE(session.LastConnectionFailed());
    EXPECT_FALSE(session.SendKey('X'));
    EXPECT_TRUE(notices.isEmpty()) << notices.join("; ").toStdString();
}

TEST_F(SessionCore, ASerialLineReportsItselfUp) {
    TPtyPair pty;
    ASSERT_TRUE(session.AttachSerial(pty.Local()));
    EXPECT_EQ(started, std::vector<Kind>{Kind::Serial});
    ASSERT_TRUE(ProcessEventsUntil([&] { return linesUp == 1; }));
    EXPECT_TRUE(session.LineUp());
    ASSERT_NE(session.LiveConnection(), nullptr);
    session.StopConnection();
    EXPECT_EQ(session.SerialConn(), nullptr);
}

std::vector<TSocketAddress> g_bothFamilies;
int BothFamilies(const std::string&, std::vector<TSocketAddress>& addresses) {
    addresses = g_bothFamilies;
    return 0;
}

// A board whose IPv6 address is dead (a silent ::1 port) and whose IPv4 one
// answers, looked up through the session: the line comes up on IPv4 long
// before the kernel would have given up on IPv6.
TEST_F(SessionCore, ANameWithADeadIPv6AddressConnectsOverIPv4) {
    SilentPort silent6(AF_INET6, peer.Port());
    if (!silent6.Ok()) {
        GTEST_SKIP() << "no silent port on ::1 beside 127.0.0.1's";
    }
    g_bothFamilies = {TSocketAddress::IPv4(htonl(INADDR_LOOPBACK)),
                      TSocketAddress::IPv6(in6addr_loopback)};
    session.SetHostLookup(BothFamilies);
    ASSERT_TRUE(session.ConnectTelnet("half.bbs.example", peer.PortText()));
    ASSERT_TRUE(OnPeer([&] { return peer.Accept(); }));
    EXPECT_TRUE(ProcessEventsUntil([&] { return linesUp > 0; }, 5000));
}

TEST_F(SessionCore, AnEndByTheRemoteSideIsNoFailureButARefusedConnectIs) {
    std::vector<bool> information;
    QObject::connect(&session, &TSession::Notice, [&](const QString&, bool isInformation) {
        information.push_back(isInformation);
    });
    ConnectToPeer();
    peer.CloseConnection();
    ASSERT_TRUE(ProcessEventsUntil([&] { return ended.size() == 1; }));
    EXPECT_EQ(ended[0].message, "Connection closed by remote host.");
    EXPECT_FALSE(ended[0].failed);
    EXPECT_FALSE(session.LastConnectionFailed());
    EXPECT_EQ(session.TelnetConn(), nullptr);
    // The user is told once the connection's own last step is over, as
    // information: a board's goodbye is no failure.
    EXPECT_TRUE(ProcessEventsUntil([&] { return notices.size() == 1; }));
    EXPECT_EQ(notices.front(), "Connection closed by remote host.");
    EXPECT_EQ(information, std::vector<bool>{true});

    RefusingPort refusing;
    ASSERT_TRUE(session.ConnectTelnet("127.0.0.1", std::to_string(refusing.Port())));
    ASSERT_TRUE(ProcessEventsUntil([&] { return ended.size() == 2; }));
    EXPECT_EQ(ended[1].message, "Cannot Connect - Connection refused") << "it never was connected";
    EXPECT_TRUE(ended[1].failed);
    EXPECT_TRUE(session.LastConnectionFailed());
    EXPECT_EQ(linesUp, 1) << "a refused connect never came up";
    EXPECT_TRUE(ProcessEventsUntil([&] { return information.size() == 2; }));
    EXPECT_EQ(information.back(), false) << "a refusal is a failure";
}

TEST_F(SessionCore, AMovieThatCannotBeReadIsToldAtOnceAndNothingStarts) {
    EXPECT_FALSE(session.PlayMovie(InFolder("none.ata")));
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(session.RunningConnection(), nullptr);
}

TEST_F(SessionCore, ATransferHasTheLineAloneUntilItGivesItBack) {
    const auto kept = KeptMachine();
    std::vector<TTransferOutcome> outcomes;
    int progressShown = 0;
    QObject::connect(&session, &TSession::TransferProgress, [&](const TTransferProgress& shown) {
        // The machine reports with its lock held; asking it here must not wait for that lock.
        EXPECT_EQ(session.Transfer()->Progress().ended, shown.ended);
        ++progressShown;
    });
    QObject::connect(&session, &TSession::TransferEnded, [&](TTransferOutcome outcome) {
        // Asked when it ends, outside the machine's lock.
        EXPECT_FALSE(session.Transfer()->Running());
        EXPECT_TRUE(session.Transfer()->Progress().ended);
        outcomes.push_back(outcome);
    });
    EXPECT_FALSE(session.StartTransfer({})) << "no line runs";
    ConnectToPeer();
    ASSERT_TRUE(session.StartTransfer({}));
    EXPECT_TRUE(session.InTransfer());
    EXPECT_FALSE(session.StartTransfer({})) << "a second transfer";
    PeerSends("DATA");
    ASSERT_TRUE(ProcessEventsUntil([&] { return kept->Bytes() == "DATA"; }));
    EXPECT_NE(screen.Cell(1, 1), 'D');

    kept->Finish();
    ASSERT_TRUE(ProcessEventsUntil([&] { return !session.InTransfer(); }));
    EXPECT_EQ(outcomes, std::vector<TTransferOutcome>{TTransferOutcome::Completed});
    EXPECT_EQ(progressShown, 1);
    EXPECT_EQ(kept->LinesLost(), 0);
    PeerSends("SCREEN");
    EXPECT_TRUE(ProcessEventsUntil([&] { return screen.Cell(1, 1) == 'S'; }));

    // The line going away tells the transfer that has it, once, and it ends.
    ASSERT_TRUE(session.StartTransfer({}));
    peer.CloseConnection();
    ASSERT_TRUE(ProcessEventsUntil([&] { return !ended.empty(); }));
    EXPECT_EQ(kept->LinesLost(), 1);
    EXPECT_FALSE(session.InTransfer()) << "a line that has gone is no transfer's";
    EXPECT_EQ(outcomes.back(), TTransferOutcome::LineLost);
}

// A board's ZMODEM send begins with "rz", a carriage return and a hex
// ZRQINIT header; the download the session starts for it must get every
// byte after it, in order, however long it takes to open.
TEST_F(SessionCore, ABoardsZmodemStartHoldsTheLineForTheDownloadOrGivesItBackToTheScreen) {
    const std::string start = std::string("**\x18") + "B00000000000000";
    const auto kept = KeptMachine();
    std::vector<TTransferKind> kinds;
    QObject::connect(&session, &TSession::TransferStarted,
                     [&](const TTransferRequest& request) { kinds.push_back(request.kind); });
    session.SetDownloadFolder(QFile::encodeName(folder.path()).toStdString());
    EXPECT_TRUE(session.AutoZmodem());
    ConnectToPeer();
    PeerSends("HELLOrz\r" + start + "\x11TAIL");
    ASSERT_TRUE(ProcessEventsUntil([&] { return kinds.size() == 1; }));
    EXPECT_EQ(kinds.front(), TTransferKind::ReceiveZmodem);
    EXPECT_EQ(screen.Cell(7, 1), 'z');
    EXPECT_EQ(screen.Cell(8, 1), '\r');
    PeerSends("MORE");
    // The header too: the download may answer it.
    ASSERT_TRUE(ProcessEventsUntil([&] { return kept->Bytes() == start + "\x11TAILMORE"; }))
        << kept->Bytes();
    EXPECT_EQ(screen.Cell(9, 1), ' ') << "the header is not for the screen";
    kept->Finish();
    ASSERT_TRUE(ProcessEventsUntil([&] { return !session.InTransfer(); }));

    // A download that cannot begin (another transfer has the line): what was
    // held goes to the screen.
    session.SetMachineMaker(
        [](const TTransferRequest&, TTransferPort&) -> std::unique_ptr<TTransferMachine> {
            throw ETransferFileError("Cannot create the file");
        });
    PeerSends(start + "X");
    ASSERT_TRUE(ProcessEventsUntil([&] { return screen.Cell(9 + 18, 1) == 'X'; }));
    EXPECT_EQ(screen.Cell(9, 1), '*');
    EXPECT_EQ(kinds.size(), 1u);

    // Auto-start off: nothing is watched, the header shows as it came.
    session.SetAutoZmodem(false);
    PeerSends(start);
    ASSERT_TRUE(ProcessEventsUntil([&] { return screen.Cell(9 + 19, 1) == '*'; }));
}

// A board prints its menu again the moment its sender ends: the bytes the
// ended transfer does not take, in the same block and after it, are shown
// although the line has not been given back yet.
TEST_F(SessionCore, WhatAnEndedTransferDoesNotTakeGoesToTheScreen) {
    ConnectToPeer();
    const auto kept = KeptMachine("OO");
    ASSERT_TRUE(session.StartTransfer({}));
    PeerSends("DATAOOMENU");
    ASSERT_TRUE(ProcessEventsUntil([&] { return screen.Cell(4, 1) == 'U'; }));
    EXPECT_EQ(kept->Bytes(), "DATAOO");
    PeerSends(">");
    EXPECT_TRUE(ProcessEventsUntil([&] { return screen.Cell(5, 1) == '>'; }));
    EXPECT_TRUE(session.InTransfer()) << "the line is still the transfer's";
}

TEST_F(SessionCore, ShutDownDuringATransferTellsItAndJoinsTheLine) {
    ConnectToPeer();
    const auto kept = KeptMachine();
    ASSERT_TRUE(session.StartTransfer({}));
    session.ShutDown();
    EXPECT_EQ(kept->LinesLost(), 1);
    EXPECT_EQ(session.LiveConnections(), 0);
    EXPECT_EQ(session.RunningConnection(), nullptr);
    EXPECT_FALSE(session.StatusMonitor().Running());
    EXPECT_TRUE(OnPeer([&] { return peer.WaitForClose(); }));
    // Nothing starts any more.
    EXPECT_FALSE(session.CanStart());
    EXPECT_FALSE(session.ConnectTelnet("127.0.0.1", peer.PortText()));
    session.ShutDown(); // again: nothing
}

TEST_F(SessionCore, ShutDownDuringAConnectThatNeverAnswersReturnsInTime) {
    BlockedLookup::Reset();
    session.SetHostLookup(BlockedLookup::Lookup);
    ASSERT_TRUE(session.ConnectTelnet("slow.example", "23"));
    ASSERT_TRUE(ProcessEventsUntil([] { return BlockedLookup::Waiting() == 1; }));
    QElapsedTimer timer;
    timer.start();
    session.ShutDown();
    EXPECT_LT(timer.elapsed(), TSession::kShutDownTimeoutMs + 1000);
    EXPECT_EQ(session.TelnetConn(), nullptr);
    EXPECT_TRUE(ended.empty()) << "nothing is reported after the shutdown";
    BlockedLookup::Release();
    ProcessEventsFor(200);
    EXPECT_TRUE(ended.empty());
    EXPECT_EQ(linesUp, 0);
}

TEST_F(SessionCore, SettingsReachTheRunningConnectionAndAreReported) {
    int changes = 0;
    QObject::connect(&session, &TSession::Changed, [&] { ++changes; });
    session.SetSpeed(1200);
    session.SetTelnetFilter(false);
    session.SetEscapeShowsControls(true);
    EXPECT_EQ(changes, 3);
    EXPECT_FALSE(session.TelnetFilter());
    EXPECT_TRUE(session.EscapeShowsControls());
    ASSERT_TRUE(session.PlayMovie(SlowMovie()));
    EXPECT_EQ(session.Player()->Delay(), 6);
    session.SetSpeed(300);
    EXPECT_EQ(session.Player()->Delay(), 27);
}

TEST_F(SessionCore, CaptureAndRecordingOpenAndCloseTheirFiles) {
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", folder.path().toUtf8());
    EXPECT_TRUE(session.StartCapture());
    EXPECT_TRUE(session.CaptureOn());
    EXPECT_TRUE(QFile::exists(folder.filePath("capture")));
    session.StopCapture();
    EXPECT_FALSE(session.CaptureOn());
    qputenv("HOME", home);

    EXPECT_FALSE(session.StartRecording(InFolder("no/such/r.ata")));
    EXPECT_EQ(notices.size(), 1);
    EXPECT_FALSE(session.Recording());
    EXPECT_TRUE(session.StartRecording(InFolder("r.ata")));
    EXPECT_TRUE(session.Recording());
    session.StopRecording();
    EXPECT_FALSE(session.Recording());
}

// A server of our own that asks for binary both ways at once: from then on a
// CR is data in both directions, and only 255 is escaped.
TEST_F(SessionCore, ABinaryServerGetsAndGivesEveryByteDuringATransfer) {
    ConnectToPeer();
    const auto sink = KeptMachine();
    ASSERT_TRUE(session.StartTransfer({}));
    PeerSendsBytes({255, 251, 0, 255, 253, 0});
    EXPECT_EQ(PeerReads(6), (std::vector<std::uint8_t>{255, 253, 0, 255, 251, 0}));
    PeerSendsBytes({'A', 13, 0, 'B', 255, 255, 13, 10});
    ASSERT_TRUE(ProcessEventsUntil([&] { return sink->Bytes().size() == 7; }));
    EXPECT_EQ(sink->Bytes(), std::string("A\r\0B\xff\r\n", 7));
    sink->Send(std::string("x\r\0\xff\r\n", 6));
    EXPECT_EQ(PeerReads(7), (std::vector<std::uint8_t>{'x', 13, 0, 255, 255, 13, 10}));
}

// Without the filter (a raw bridge on a Telnet port) a transfer takes the
// bytes as they come; until the server asks for binary our CR goes as CR NUL.
TEST_F(SessionCore, WithoutTheFilterATransferTakesTheBytesAsTheyCome) {
    session.SetTelnetFilter(false);
    ConnectToPeer();
    const auto sink = KeptMachine();
    ASSERT_TRUE(session.StartTransfer({}));
    PeerSendsBytes({'A', 13, 0, 255, 253, 24, 255});
    ASSERT_TRUE(ProcessEventsUntil([&] { return sink->Bytes().size() == 7; }));
    EXPECT_EQ(sink->Bytes(), std::string("A\r\0\xff\xfd\x18\xff", 7));
    sink->Send("\ry");
    EXPECT_EQ(PeerReads(3), (std::vector<std::uint8_t>{13, 0, 'y'}));
}

// A paste is typed, not flooded: each code waits its turn, and a line end
// gives the board time to store the line.
TEST_F(SessionCore, TypedCodesGoOutAtATypingPaceAndAStopEndsThem) {
    EXPECT_FALSE(session.TypeCodes({'X'})) << "no line to type into";
    ConnectToPeer();
    std::vector<int> progress;
    std::vector<bool> endings;
    QObject::connect(&session, &TSession::TypingProgress,
                     [&](int sent, int, int) { progress.push_back(sent); });
    QObject::connect(&session, &TSession::TypingEnded,
                     [&](bool completed) { endings.push_back(completed); });
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    ASSERT_TRUE(session.TypeCodes({'A', 'B', 155, 'C'}, 1));
    EXPECT_TRUE(session.Typing());
    const auto arrivals = OnPeer([&] {
        std::vector<Clock::time_point> times;
        for (int i = 0; i < 4; ++i) {
            if (peer.Read(1).empty()) {
                break;
            }
            times.push_back(Clock::now());
        }
        return times;
    });
    ASSERT_EQ(arrivals.size(), 4U);
    // Never early: a code waits at least its turn. Counted from the start,
    // as a loaded machine may read two codes at once however they were sent.
    const auto since = [&](int i) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(arrivals[i] - started).count();
    };
    EXPECT_GE(since(1), 18);
    EXPECT_GE(since(3), 2 * 18 + 195) << "the line end's pause";
    ASSERT_TRUE(ProcessEventsUntil([&] { return !endings.empty(); }));
    EXPECT_EQ(endings, std::vector<bool>{true});
    EXPECT_EQ(progress.back(), 4);

    // A stop ends a long run at once; nothing more goes out.
    ASSERT_TRUE(session.TypeCodes(std::vector<std::uint8_t>(200, 'z')));
    ProcessEventsFor(100);
    session.StopTyping();
    EXPECT_FALSE(session.Typing());
    EXPECT_EQ(endings.back(), false);
    EXPECT_LT(PeerReads(200, 300).size(), 20U);
    ProcessEventsFor(100);
    EXPECT_TRUE(PeerReads(1, 200).empty());
}

TEST_F(SessionCore, AnEntryLogsInIsCountedAndIsOfferedRawTcpOnceWhenItsBoardSpeaksNoTelnet) {
    TMemorySettingsStore store;
    session.SetDirectoryStore(&store);
    THostDirectory directory(store);
    directory.LoadHosts();
    directory.Edits() = THostRow{"127.0.0.1", peer.PortText(), "Board"};
    directory.Edits().UserName = "sam";
    directory.Edits().EscapeShowsControls = true;
    ASSERT_EQ(directory.SaveAsNew(), THostEditResult::Saved);
    QStringList offers;
    QObject::connect(&session, &TSession::RawPeerOffered,
                     [&](const QString& name) { offers << name; });
    const auto readText = [&](std::size_t count) {
        const auto bytes = PeerReads(count);
        return std::string(bytes.begin(), bytes.end());
    };

    ASSERT_TRUE(session.ConnectToHost(directory.Row(1), "pw"));
    EXPECT_TRUE(session.EscapeShowsControls()) << "the entry's own setting";
    ASSERT_NO_FATAL_FAILURE(PeerAnswers());
    PeerReads(1 << 10, 200); // the Telnet client's own negotiation
    // A bridge that passes a 255 on as it is, then asks for the name.
    peer.SendAll({0xFF, 'A', 0x9B, 'N', 'a', 'm', 'e', '?', ' '});
    EXPECT_EQ(readText(4), "sam\x9b");
    ASSERT_TRUE(session.SendLogin());
    EXPECT_EQ(readText(7), "sam\x9bpw\x9b");
    ASSERT_TRUE(ProcessEventsUntil([&] { return !offers.isEmpty(); }));
    EXPECT_EQ(offers, QStringList{"Board"});

    peer.CloseConnection();
    session.AnswerRawPeerOffer(true);
    ASSERT_NO_FATAL_FAILURE(PeerAnswers(2));
    EXPECT_EQ(started.back(), Kind::Raw) << "called again over raw TCP";
    EXPECT_EQ(store.Value(THostDirectory::kDirectoryKey, "Board-PORT-TYPE"), "Raw");
    EXPECT_EQ(store.Value(THostDirectory::kDirectoryKey, "Board-PORT-RAWOFFERED"), "1");
    EXPECT_EQ(store.Value(THostDirectory::kDirectoryKey, "Board-PORT-CALLS"), "2");
    EXPECT_TRUE(session.CanRedial());
    EXPECT_EQ(session.LastEntry().Protocol, THostProtocol::Raw);
}

// The command line's address: called as the session is set and called
// again by Redial.
TEST_F(SessionCore, AnAddressKeepsTheSessionsSettingsAndIsRedialled) {
    session.SetColumns(80);
    session.SetEscapeShowsControls(true);
    session.SetConnectTimeout(std::chrono::milliseconds(1500));
    THostRow address{"127.0.0.1", peer.PortText(), ""};
    address.Protocol = THostProtocol::Raw;
    ASSERT_TRUE(session.CallAddress(address));
    ASSERT_NO_FATAL_FAILURE(PeerAnswers());
    EXPECT_EQ(session.Columns(), 80);
    EXPECT_TRUE(session.EscapeShowsControls());
    EXPECT_EQ(session.ConnectTimeout(), std::chrono::milliseconds(1500));
    peer.CloseConnection();
    ASSERT_TRUE(ProcessEventsUntil([&] { return session.CanRedial(); }));
    ASSERT_TRUE(session.Redial());
    ASSERT_NO_FATAL_FAILURE(PeerAnswers(2));
    EXPECT_EQ(started.back(), Kind::Raw);
    EXPECT_EQ(session.Columns(), 80) << "redialled as an entry";
}

} // namespace
