#include "connection/telnet/tn_cnx.h"

#include "loopback_peer.h"
#include "qt_event_wait.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}
Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

using Lines = std::vector<std::string>;

// Records what a TTnCnx reports, in order.
struct TnRecorder {
    explicit TnRecorder(TTnCnx& cnx) {
        cnx.SetOnSessionConnected(
            [this](TTnCnx&, int error) { events.push_back("connected " + std::to_string(error)); });
        cnx.SetOnSessionClosed([this](TTnCnx&, int error) {
            events.push_back("closed " + std::to_string(error));
            ++closed;
        });
        cnx.SetOnDataAvailable([this](TTnCnx&, const std::uint8_t* block, int length) {
            EXPECT_EQ(block[length], 0);
            EXPECT_LE(length, 2049);
            data.insert(data.end(), block, block + length);
        });
        cnx.SetOnDisplay([this](TTnCnx&, const std::string& text) { displays.push_back(text); });
        cnx.SetOnRawPeer([this](TTnCnx&) { ++rawPeerHints; });
    }
    Lines events;
    Lines displays;
    Bytes data;
    int closed = 0;
    int rawPeerHints = 0;
};

// A raw board's insert-character code, a 255 that is no Telnet command.
const Bytes kRawBoardText = Concat({Text("ABCD"), {255}, Text("EF"), {255}, Text("G")});

// The main of these tests makes the application before any fixture exists.
class TnCnx : public ::testing::Test {
protected:
    // Starts a connect to a loopback peer and lets the peer take it.
    bool ConnectTo(LoopbackPeer& to) {
        cnx.SetHost("127.0.0.1");
        cnx.SetPort(to.PortText());
        cnx.Connect();
        return to.Accept();
    }
    bool DataReaches(std::size_t size) {
        return ProcessEventsUntil([&] { return rec.data.size() == size; });
    }

    LoopbackPeer peer;
    TTnCnx cnx;
    TnRecorder rec{cnx};
};

TEST_F(TnCnx, NegotiatesDeliversDataAndSends) {
    cnx.SetTermType("ATASCII");
    ASSERT_TRUE(ConnectTo(peer));
    // The terminal-type request is split across two sends.
    peer.SendAll({'A', IAC, IAC, 'B', IAC});
    ASSERT_TRUE(DataReaches(3));
    peer.SendAll({DO, 24, IAC, SB, 24, 1, IAC, SE, IAC, WILL, 1, IAC, DO, 31, 'C'});
    ASSERT_TRUE(DataReaches(4));
    EXPECT_EQ(rec.data, (Bytes{'A', 255, 'B', 'C'}));
    EXPECT_FALSE(cnx.LocalEcho());
    EXPECT_TRUE(cnx.IsConnected());

    const Bytes expectedReplies = Concat({{IAC, WILL, 24},
                                          {IAC, SB, 24, 0},
                                          Text("ATASCII"),
                                          {IAC, SE},
                                          {IAC, DO, 1},
                                          {IAC, WONT, 31}});
    EXPECT_EQ(peer.Read(expectedReplies.size()), expectedReplies);

    const std::uint8_t iac = 255;
    EXPECT_EQ(cnx.SendDoubled(&iac, 1), 2);
    EXPECT_EQ(cnx.SendStr(std::string(1, '\xFF')), 1);
    EXPECT_EQ(cnx.SendStr("hi"), 2);
    EXPECT_EQ(peer.Read(5), (Bytes{255, 255, 255, 'h', 'i'}));

    // Data as Telnet carries it: 255 doubled, CR padded until we send binary.
    const Bytes data = {'x', 13, 255};
    EXPECT_EQ(cnx.SendData(data.data(), 3), 5);
    EXPECT_EQ(peer.Read(5), (Bytes{'x', 13, 0, 255, 255}));

    // A transfer: still Telnet with the filter on, answered and decoded.
    cnx.SetRawMode(true);
    cnx.SetRawFilter(true);
    peer.SendAll({IAC, IAC, 13, 0, IAC, DO, 0, 'D'});
    ASSERT_TRUE(DataReaches(7));
    EXPECT_EQ(Bytes(rec.data.begin() + 4, rec.data.end()), (Bytes{255, 13, 'D'}));
    EXPECT_EQ(peer.Read(3), (Bytes{IAC, WILL, 0}));
    EXPECT_TRUE(cnx.OurBinary());
    EXPECT_EQ(cnx.SendData(data.data(), 3), 4);
    EXPECT_EQ(peer.Read(4), (Bytes{'x', 13, 255, 255}));
    // Without the filter the bytes come as they are.
    cnx.SetRawFilter(false);
    peer.SendAll({IAC, DO, 24, 13, 0});
    ASSERT_TRUE(DataReaches(12));
    EXPECT_EQ(Bytes(rec.data.begin() + 7, rec.data.end()), (Bytes{IAC, DO, 24, 13, 0}));

    peer.CloseConnection();
    ASSERT_TRUE(ProcessEventsUntil([&] { return rec.closed > 0; }));
    EXPECT_EQ(rec.events, (Lines{"connected 0", "closed 0"}));
    EXPECT_EQ(rec.displays, Lines{"\r\n**** Remote has closed ****\r\n"});
    EXPECT_FALSE(cnx.IsConnected());
}

TEST_F(TnCnx, RawTcpPassesEveryByteBothWaysAndNeverAnswers) {
    cnx.SetRawTcp(true);
    ASSERT_TRUE(ConnectTo(peer));
    const Bytes sent = Concat({kRawBoardText, {IAC, DO, 24, IAC, WILL, 1, 13, 0}});
    peer.SendAll(sent);
    ASSERT_TRUE(DataReaches(sent.size()));
    EXPECT_EQ(rec.data, sent);
    EXPECT_EQ(rec.rawPeerHints, 0);
    const Bytes keys = {255, 13, 'x'};
    EXPECT_EQ(cnx.SendData(keys.data(), 3), 3);
    // Nothing of its own went out before the data: no replies to the options.
    EXPECT_EQ(peer.Read(4, 300), keys);
}

TEST_F(TnCnx, AHostThatSpeaksNoTelnetIsReportedOnce) {
    ASSERT_TRUE(ConnectTo(peer));
    peer.SendAll(kRawBoardText);
    ASSERT_TRUE(DataReaches(5));
    EXPECT_EQ(rec.data, Text("ABCDF"));
    EXPECT_EQ(rec.rawPeerHints, 1);
}

TEST_F(TnCnx, UnresolvableHostRaisesWithTheLookupMessage) {
    // A name no host can have: the lookup refuses it without a name server.
    cnx.SetHost("no such host!");
    try {
        cnx.Connect();
        FAIL() << "connect to an unknown host";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "connect: WSocketResolveHost: Cannot convert host address "
                               "'no such host!', Error #11001");
    }
    EXPECT_FALSE(cnx.IsConnected());
}

// A peer that resets the connection instead of closing it: what it sent is
// delivered, the receive error is shown, and the close carries the error.
TEST_F(TnCnx, ResetByThePeer) {
    ASSERT_TRUE(ConnectTo(peer));
    ASSERT_TRUE(ProcessEventsUntil([&] { return cnx.IsConnected(); }));
    peer.SendText("bye");
    ASSERT_TRUE(DataReaches(3));
    peer.Reset();
    ASSERT_TRUE(ProcessEventsUntil([&] { return rec.closed > 0; }));
    ProcessEventsFor(50);
    EXPECT_EQ(rec.events, (Lines{"connected 0", "closed 10054"}));
    EXPECT_EQ(rec.displays, Lines{"\r\n**** ERROR: 10054 ****\r\n"});
    EXPECT_FALSE(cnx.IsConnected());
}

QStringList g_traceLines;

void CollectTrace(QtMsgType, const QMessageLogContext& context, const QString& text) {
    if (context.category != nullptr && QString::fromLatin1(context.category) == "telvora.telnet") {
        g_traceLines.push_back(text);
    }
}

// The protocol trace goes to its own logging category, which is quiet unless
// switched on.
TEST_F(TnCnx, TraceLinesOnlyWhenSwitchedOn) {
    ASSERT_TRUE(ConnectTo(peer));
    g_traceLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(CollectTrace);
    peer.SendAll({IAC, 241, 'a'});
    const bool first = DataReaches(1);
    QLoggingCategory::setFilterRules(QStringLiteral("telvora.telnet.debug=true"));
    peer.SendAll({IAC, 239, 'b'});
    const bool second = DataReaches(2);
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(previous);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(g_traceLines, QStringList{QStringLiteral("0002 TNCH_EOR")});
}

TEST_F(TnCnx, ConnectAgainClosesThePreviousConnection) {
    LoopbackPeer second;
    ASSERT_TRUE(ConnectTo(peer));
    ASSERT_TRUE(ProcessEventsUntil([&] { return cnx.IsConnected(); }));
    cnx.SetPort(second.PortText());
    cnx.Connect();
    EXPECT_TRUE(peer.WaitForClose());
    ASSERT_TRUE(second.Accept());
    second.SendText("two");
    ASSERT_TRUE(DataReaches(3));
    EXPECT_EQ(rec.events, (Lines{"connected 0", "closed 0", "connected 0"}));
}

// Debian's inetutils telnetd, run by socat for one connection on a loopback
// port, negotiates with us and then shows its login prompt.
class RealTelnetd : public ::testing::Test {
protected:
    void SetUp() override {
        const QString socat = QStandardPaths::findExecutable("socat");
        ASSERT_FALSE(socat.isEmpty()) << "socat is not installed (apt-get install socat)";
        ASSERT_TRUE(QFileInfo(QString::fromLatin1(kTelnetd)).isExecutable())
            << kTelnetd << " is missing (apt-get install inetutils-telnetd)";
        m_port = LoopbackPeer::FreePort();
        m_socat.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_socat.start(socat,
                      {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(m_port),
                       QStringLiteral("EXEC:\"%1 -h\",nofork").arg(QString::fromLatin1(kTelnetd))});
        ASSERT_TRUE(m_socat.waitForStarted(5000)) << "socat did not start";
    }
    void TearDown() override {
        if (m_socat.state() != QProcess::NotRunning) {
            m_socat.kill();
            m_socat.waitForFinished(5000);
        }
    }

    static constexpr const char* kTelnetd = "/usr/sbin/telnetd";
    int m_port = 0;
    QProcess m_socat;
};

TEST_F(RealTelnetd, NegotiatesAndShowsTheLoginPrompt) {
    TTnCnx cnx;
    TnRecorder rec(cnx);
    int termTypeAsked = 0;
    cnx.SetOnTermType([&](TTnCnx&) { ++termTypeAsked; });
    cnx.SetTermType("ATASCII");
    cnx.SetHost("127.0.0.1");
    cnx.SetPort(std::to_string(m_port));
    // socat needs a moment before it listens; a refused attempt costs it nothing.
    bool connected = false;
    for (int attempt = 0; attempt < 50 && !connected; ++attempt) {
        rec.events.clear();
        rec.closed = 0;
        cnx.Connect();
        ASSERT_TRUE(ProcessEventsUntil([&] { return !rec.events.empty(); }));
        connected = rec.events.front() == "connected 0";
        if (!connected) {
            ProcessEventsUntil([&] { return rec.closed > 0; });
            ProcessEventsFor(100);
        }
    }
    ASSERT_TRUE(connected) << "socat never accepted on port " << m_port;

    const auto text = [&] { return std::string(rec.data.begin(), rec.data.end()); };
    ASSERT_TRUE(
        ProcessEventsUntil([&] { return text().find("login:") != std::string::npos; }, 10000))
        << "received: " << text();
    EXPECT_GE(termTypeAsked, 1) << "telnetd asks for the terminal type before the prompt";
    EXPECT_FALSE(cnx.LocalEcho()) << "telnetd echoes for us";
    EXPECT_EQ(text().find('\xFF'), std::string::npos) << "no Telnet command leaks into the data";
    EXPECT_EQ(rec.closed, 0);
}

} // namespace
