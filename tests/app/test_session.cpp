// The session on its own, with no window: a screen widget and real peers on
// loopback and a pseudo-terminal pair.
#include "app/session.h"
#include "connection/live_connection.h"
#include "screen/crt_screen.h"

#include "blocked_lookup.h"
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

// A receiver that keeps what a transfer is handed; given an end, it takes
// the bytes up to and including it and nothing after, as a transfer that
// has ended.
class KeptBytes : public TChunkSink {
public:
    KeptBytes() = default;
    explicit KeptBytes(std::string end) : m_end(std::move(end)) {}
    int ReceiveChunk(const std::uint8_t* data, int count) override {
        std::lock_guard lock(m_mutex);
        int taken = 0;
        for (; taken < count && !Ended(); ++taken) {
            m_bytes.push_back(static_cast<char>(data[taken]));
        }
        return taken;
    }
    std::string Bytes() const {
        std::lock_guard lock(m_mutex);
        return m_bytes;
    }

private:
    bool Ended() const {
        return !m_end.empty() && m_bytes.size() >= m_end.size() &&
               m_bytes.compare(m_bytes.size() - m_end.size(), m_end.size(), m_end) == 0;
    }

    mutable std::mutex m_mutex;
    std::string m_end;
    std::string m_bytes;
};

using test::BlockedLookup;

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
    std::string SlowMovie() {
        const QString path = folder.filePath(QStringLiteral("slow.ata"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(2000, 'm'));
        return QFile::encodeName(path).toStdString();
    }
    void ConnectToPeer() {
        ASSERT_TRUE(session.ConnectTelnet("127.0.0.1", peer.PortText()));
        ASSERT_TRUE(OnPeer([&] { return peer.Accept(); }));
        ASSERT_TRUE(ProcessEventsUntil([&] { return linesUp > 0; }));
    }

    struct TEnd {
        QString message;
        bool failed;
    };
    QTemporaryDir folder;
    TCrtScreen screen;
    TSession session{&screen};
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
    EXPECT_EQ(OnPeer([&] { return peer.Read(1); }), std::vector<std::uint8_t>{'K'});

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

TEST_F(SessionCore, AnEndByTheRemoteSideIsNoFailureButARefusedConnectIs) {
    ConnectToPeer();
    peer.CloseConnection();
    ASSERT_TRUE(ProcessEventsUntil([&] { return ended.size() == 1; }));
    EXPECT_EQ(ended[0].message, "Connection closed by remote host.");
    EXPECT_FALSE(ended[0].failed);
    EXPECT_FALSE(session.LastConnectionFailed());
    EXPECT_EQ(session.TelnetConn(), nullptr);
    // The user is told once the connection's own last step is over.
    EXPECT_TRUE(ProcessEventsUntil([&] { return notices.size() == 1; }));
    EXPECT_EQ(notices.front(), "Connection closed by remote host.");

    RefusingPort refusing;
    ASSERT_TRUE(session.ConnectTelnet("127.0.0.1", std::to_string(refusing.Port())));
    ASSERT_TRUE(ProcessEventsUntil([&] { return ended.size() == 2; }));
    EXPECT_TRUE(ended[1].failed);
    EXPECT_TRUE(session.LastConnectionFailed());
    EXPECT_EQ(linesUp, 1) << "a refused connect never came up";
}

TEST_F(SessionCore, AMovieThatCannotBeReadIsToldAtOnceAndNothingStarts) {
    EXPECT_FALSE(session.PlayMovie(QFile::encodeName(folder.filePath("none.ata")).toStdString()));
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(session.RunningConnection(), nullptr);
}

TEST_F(SessionCore, ATransferHasTheLineAloneUntilItGivesItBack) {
    auto sink = std::make_shared<KeptBytes>();
    int lost = 0;
    EXPECT_EQ(session.TakeLine(sink, [&] { ++lost; }), nullptr) << "no line runs";
    ConnectToPeer();
    TLiveConnection* line = session.TakeLine(sink, [&] { ++lost; });
    ASSERT_NE(line, nullptr);
    EXPECT_TRUE(session.InTransfer());
    EXPECT_EQ(session.TakeLine(sink, [&] { ++lost; }), nullptr) << "a second transfer";
    OnPeer([&] {
        peer.SendText("DATA");
        return true;
    });
    ASSERT_TRUE(ProcessEventsUntil([&] { return sink->Bytes() == "DATA"; }));
    EXPECT_NE(screen.Cell(1, 1), 'D');

    session.ReleaseLine();
    EXPECT_FALSE(session.InTransfer());
    EXPECT_EQ(lost, 0);
    OnPeer([&] {
        peer.SendText("SCREEN");
        return true;
    });
    EXPECT_TRUE(ProcessEventsUntil([&] { return screen.Cell(1, 1) == 'S'; }));

    // The line going away tells the transfer that has it, once.
    ASSERT_NE(session.TakeLine(sink, [&] { ++lost; }), nullptr);
    peer.CloseConnection();
    ASSERT_TRUE(ProcessEventsUntil([&] { return !ended.empty(); }));
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(session.InTransfer()) << "a line that has gone is no transfer's";
}

// A board's ZMODEM send begins with "rz", a carriage return and a hex
// ZRQINIT header; the download that takes the line must get every byte after
// it, in order, however long it takes to open.
TEST_F(SessionCore, ABoardsZmodemStartHoldsTheLineForTheDownloadOrGivesItBackToTheScreen) {
    const std::string start = std::string("**\x18") + "B00000000000000";
    int offered = 0;
    QObject::connect(&session, &TSession::RemoteSendStarted, [&] { ++offered; });
    EXPECT_TRUE(session.AutoZmodem());
    ConnectToPeer();
    const auto send = [&](const std::string& text) {
        OnPeer([&] {
            peer.SendText(text);
            return true;
        });
    };
    send("HELLOrz\r" + start + "\x11TAIL");
    ASSERT_TRUE(ProcessEventsUntil([&] { return offered == 1; }));
    EXPECT_EQ(screen.Cell(7, 1), 'z');
    EXPECT_EQ(screen.Cell(8, 1), '\r');
    EXPECT_EQ(screen.Cell(9, 1), ' ') << "the header is not for the screen";
    send("MORE");
    ProcessEventsFor(200);
    EXPECT_EQ(screen.Cell(9, 1), ' ') << "held until a download takes the line";

    auto sink = std::make_shared<KeptBytes>();
    ASSERT_NE(session.TakeLine(sink, [] {}), nullptr);
    // The header too: the download may answer it.
    ASSERT_TRUE(ProcessEventsUntil([&] { return sink->Bytes() == start + "\x11TAILMORE"; }))
        << sink->Bytes();
    session.ReleaseLine();

    // Declined (another transfer runs, say): what was held goes to the screen.
    send(start + "X");
    ASSERT_TRUE(ProcessEventsUntil([&] { return offered == 2; }));
    session.DeclineRemoteSend();
    ASSERT_TRUE(ProcessEventsUntil([&] { return screen.Cell(9 + 18, 1) == 'X'; }));
    EXPECT_EQ(screen.Cell(9, 1), '*');

    // Auto-start off: nothing is watched, the header shows as it came.
    session.SetAutoZmodem(false);
    send(start);
    ASSERT_TRUE(ProcessEventsUntil([&] { return screen.Cell(9 + 19, 1) == '*'; }));
    ProcessEventsFor(100);
    EXPECT_EQ(offered, 2);
}

// A board prints its menu again the moment its sender ends: the bytes the
// ended transfer does not take, in the same block and after it, are shown
// although the line has not been given back yet.
TEST_F(SessionCore, WhatAnEndedTransferDoesNotTakeGoesToTheScreen) {
    ConnectToPeer();
    auto sink = std::make_shared<KeptBytes>("OO");
    ASSERT_NE(session.TakeLine(sink, [] {}), nullptr);
    OnPeer([&] {
        peer.SendText("DATAOOMENU");
        return true;
    });
    ASSERT_TRUE(ProcessEventsUntil([&] { return screen.Cell(4, 1) == 'U'; }));
    EXPECT_EQ(sink->Bytes(), "DATAOO");
    OnPeer([&] {
        peer.SendText(">");
        return true;
    });
    EXPECT_TRUE(ProcessEventsUntil([&] { return screen.Cell(5, 1) == '>'; }));
    EXPECT_TRUE(session.InTransfer()) << "the line is still the transfer's";
    session.ReleaseLine();
}

TEST_F(SessionCore, ShutDownDuringATransferTellsItAndJoinsTheLine) {
    ConnectToPeer();
    int lost = 0;
    ASSERT_NE(session.TakeLine(std::make_shared<KeptBytes>(), [&] { ++lost; }), nullptr);
    session.ShutDown();
    EXPECT_EQ(lost, 1);
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
    EXPECT_TRUE(screen.EscapeShowsControls());
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

    EXPECT_FALSE(
        session.StartRecording(QFile::encodeName(folder.filePath("no/such/r.ata")).toStdString()));
    EXPECT_EQ(notices.size(), 1);
    EXPECT_FALSE(session.Recording());
    EXPECT_TRUE(session.StartRecording(QFile::encodeName(folder.filePath("r.ata")).toStdString()));
    EXPECT_TRUE(session.Recording());
    session.StopRecording();
    EXPECT_FALSE(session.Recording());
}

// A server of our own that asks for binary both ways at once: from then on a
// CR is data in both directions, and only 255 is escaped.
TEST_F(SessionCore, ABinaryServerGetsAndGivesEveryByteDuringATransfer) {
    ConnectToPeer();
    auto sink = std::make_shared<KeptBytes>();
    TLiveConnection* line = session.TakeLine(sink, [] {});
    ASSERT_NE(line, nullptr);
    OnPeer([&] {
        peer.SendAll({255, 251, 0, 255, 253, 0});
        return true;
    });
    EXPECT_EQ(OnPeer([&] { return peer.Read(6); }),
              (std::vector<std::uint8_t>{255, 253, 0, 255, 251, 0}));
    OnPeer([&] {
        peer.SendAll({'A', 13, 0, 'B', 255, 255, 13, 10});
        return true;
    });
    ASSERT_TRUE(ProcessEventsUntil([&] { return sink->Bytes().size() == 7; }));
    EXPECT_EQ(sink->Bytes(), std::string("A\r\0B\xff\r\n", 7));
    const std::uint8_t out[] = {'x', 13, 0, 255, 13, 10};
    line->SendTransferBytes(out, sizeof out);
    EXPECT_EQ(OnPeer([&] { return peer.Read(7); }),
              (std::vector<std::uint8_t>{'x', 13, 0, 255, 255, 13, 10}));
}

// Without the filter (a raw bridge on a Telnet port) a transfer takes the
// bytes as they come; until the server asks for binary our CR goes as CR NUL.
TEST_F(SessionCore, WithoutTheFilterATransferTakesTheBytesAsTheyCome) {
    session.SetTelnetFilter(false);
    ConnectToPeer();
    auto sink = std::make_shared<KeptBytes>();
    TLiveConnection* line = session.TakeLine(sink, [] {});
    ASSERT_NE(line, nullptr);
    OnPeer([&] {
        peer.SendAll({'A', 13, 0, 255, 253, 24, 255});
        return true;
    });
    ASSERT_TRUE(ProcessEventsUntil([&] { return sink->Bytes().size() == 7; }));
    EXPECT_EQ(sink->Bytes(), std::string("A\r\0\xff\xfd\x18\xff", 7));
    const std::uint8_t out[] = {13, 'y'};
    line->SendTransferBytes(out, sizeof out);
    EXPECT_EQ(OnPeer([&] { return peer.Read(3); }), (std::vector<std::uint8_t>{13, 0, 'y'}));
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
    ASSERT_TRUE(session.TypeCodes({'A', 'B', 155, 'C'}, 1));
    EXPECT_TRUE(session.Typing());
    using Clock = std::chrono::steady_clock;
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
    const auto gap = [&](int i) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(arrivals[i] - arrivals[i - 1])
            .count();
    };
    // Never early: a code waits at least its turn.
    EXPECT_GE(gap(1), 18);
    EXPECT_GE(gap(3), 195) << "the line end's pause";
    ASSERT_TRUE(ProcessEventsUntil([&] { return !endings.empty(); }));
    EXPECT_EQ(endings, std::vector<bool>{true});
    EXPECT_EQ(progress.back(), 4);

    // A stop ends a long run at once; nothing more goes out.
    ASSERT_TRUE(session.TypeCodes(std::vector<std::uint8_t>(200, 'z')));
    ProcessEventsFor(100);
    session.StopTyping();
    EXPECT_FALSE(session.Typing());
    EXPECT_EQ(endings.back(), false);
    const std::size_t typed = OnPeer([&] { return peer.Read(200, 300).size(); });
    EXPECT_LT(typed, 20U);
    ProcessEventsFor(100);
    EXPECT_TRUE(OnPeer([&] { return peer.Read(1, 200).empty(); }));
}

} // namespace
