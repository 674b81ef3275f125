#include "connection/telnet/wsocket.h"

#include "loopback_peer.h"
#include "qt_event_wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;

const Texts kRefused = {"connected 10061", "closed 0"};

Bytes Numbered(std::size_t count, int seed = 0) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 13 + static_cast<std::size_t>(seed)) % 251);
    }
    return bytes;
}

// Records the socket's events in order and reads everything offered.
struct Recorder {
    explicit Recorder(TWSocket& socket) {
        socket.SetOnSessionConnected([this](TWSocket&, int error) {
            events.push_back("connected " + std::to_string(error));
        });
        socket.SetOnSessionClosed([this](TWSocket&, int error) {
            events.push_back("closed " + std::to_string(error));
            ++closed;
        });
        socket.SetOnDataAvailable([this](TWSocket& s, int) {
            std::uint8_t buffer[4096];
            const int n = s.Receive(buffer, sizeof buffer);
            if (n > 0) {
                if (events.empty() || events.back() != "data") {
                    events.push_back("data");
                }
                data.insert(data.end(), buffer, buffer + n);
            }
        });
    }
    std::string Text() const { return std::string(data.begin(), data.end()); }

    Texts events;
    Bytes data;
    int closed = 0;
};

// What the call raised, or "no error".
template <class Call> std::string ErrorOf(Call call) {
    try {
        call();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "no error";
}

void Aim(TWSocket& socket, const std::string& addr, const std::string& port) {
    socket.SetAddr(addr);
    socket.SetPort(port);
}

void StartConnect(TWSocket& socket, int port) {
    Aim(socket, "127.0.0.1", std::to_string(port));
    socket.Connect();
}

std::string ConnectError(TWSocket& socket, const std::string& addr, const std::string& port) {
    Aim(socket, addr, port);
    return ErrorOf([&] { socket.Connect(); });
}

bool Connected(TWSocket& socket) {
    return ProcessEventsUntil([&] { return socket.State() == wsConnected; });
}

// Connects to the peer; true once both ends have the connection.
bool ConnectTo(TWSocket& socket, LoopbackPeer& peer) {
    StartConnect(socket, peer.Port());
    return peer.Accept() && Connected(socket);
}

// Connects and serves events until the close, and a while after it so that a
// late event would be seen too; the events by then.
Texts EventsUntilClosed(TWSocket& socket, const Recorder& rec) {
    socket.Connect();
    EXPECT_TRUE(ProcessEventsUntil([&] { return rec.closed > 0; }));
    ProcessEventsFor(50);
    return rec.events;
}

// Runs the socket until it is connected or closed; true when connected.
bool Settled(TWSocket& socket, Recorder& rec) {
    return ProcessEventsUntil([&] { return socket.State() == wsConnected || rec.closed > 0; }) &&
           socket.State() == wsConnected;
}

int IntOption(int fd, int level, int name) {
    int value = -1;
    socklen_t length = sizeof value;
    ::getsockopt(fd, level, name, &value, &length);
    return value;
}

linger Linger(int fd) {
    linger setting{-1, -1};
    socklen_t length = sizeof setting;
    EXPECT_EQ(::getsockopt(fd, SOL_SOCKET, SO_LINGER, &setting, &length), 0);
    return setting;
}

int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// A name server that answers only when the test lets it, with 127.0.0.1.
std::atomic<bool> g_lookupStarted{false};
std::atomic<bool> g_lookupMayAnswer{false};

int SlowLookup(const std::string&, in_addr_t& address) {
    g_lookupStarted = true;
    for (int i = 0; i < 5000 && !g_lookupMayAnswer; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    address = htonl(INADDR_LOOPBACK);
    return 0;
}

int OneLoopbackAddress(const std::string&, in_addr_t& address) {
    address = htonl(INADDR_LOOPBACK);
    return 0;
}

int NoSuchName(const std::string&, in_addr_t&) {
    return 11001;
}

// A name server whose answer the test sets: every address in this order.
std::vector<TSocketAddress> g_addresses;
Texts g_namesAsked;

int ListLookup(const std::string& name, std::vector<TSocketAddress>& addresses) {
    g_namesAsked.push_back(name);
    addresses = g_addresses;
    return 0;
}

// Aims the socket at a name that ListLookup resolves to these addresses.
void AimListed(TWSocket& socket, std::vector<TSocketAddress> addresses, int port,
               const std::string& name = "both.bbs.example") {
    g_addresses = std::move(addresses);
    socket.SetHostLookup(ListLookup);
    Aim(socket, name, std::to_string(port));
}

TSocketAddress Loopback4() {
    return TSocketAddress::IPv4(htonl(INADDR_LOOPBACK));
}
TSocketAddress Loopback6() {
    return TSocketAddress::IPv6(in6addr_loopback);
}

// A TCP port on ::1 for the IPv6 tests: it listens (and accepts one
// connection) or only holds the port, so a connect to it is refused. Every
// wait has a timeout.
class Loopback6Port {
public:
    // port 0: any free port.
    Loopback6Port(bool listening, int port) {
        m_fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0) {
            return;
        }
        const int on = 1;
        ::setsockopt(m_fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        sockaddr_in6 addr{};
        addr.sin6_family = AF_INET6;
        addr.sin6_addr = in6addr_loopback;
        addr.sin6_port = htons(static_cast<std::uint16_t>(port));
        socklen_t length = sizeof addr;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            (listening && ::listen(m_fd, 4) != 0) ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_port = ntohs(addr.sin6_port);
    }
    ~Loopback6Port() {
        if (m_conn >= 0) {
            ::close(m_conn);
        }
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Loopback6Port(const Loopback6Port&) = delete;
    Loopback6Port& operator=(const Loopback6Port&) = delete;

    bool Ok() const { return m_fd >= 0; }
    int Port() const { return m_port; }

    bool Accept(int timeoutMs = 5000) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) {
            return false;
        }
        m_conn = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        return m_conn >= 0;
    }
    bool SendText(const std::string& text) {
        return ::send(m_conn, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }
    std::string Read(std::size_t count, int timeoutMs = 5000) {
        std::string out;
        while (out.size() < count) {
            pollfd p{m_conn, POLLIN, 0};
            char buffer[256];
            if (::poll(&p, 1, timeoutMs) <= 0) {
                break;
            }
            const ssize_t n =
                ::recv(m_conn, buffer, std::min(sizeof buffer, count - out.size()), 0);
            if (n <= 0) {
                break;
            }
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return out;
    }
    // The peer's address as the accepting side saw it.
    std::string PeerText() const {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        ::getpeername(m_conn, reinterpret_cast<sockaddr*>(&peer), &length);
        return TSocketAddress::From(reinterpret_cast<sockaddr*>(&peer), length).Text();
    }

private:
    int m_fd = -1;
    int m_conn = -1;
    int m_port = 0;
};
// The same port number on ::1 (refusing) and on 127.0.0.1 (listening) or
// the other way round, so that one lookup answer names both.
struct TwoFamilies {
    std::unique_ptr<LoopbackPeer> peer4;
    std::unique_ptr<RefusingPort> refusing4;
    std::unique_ptr<Loopback6Port> port6;
    int port = 0;

    explicit TwoFamilies(bool listenOn6) {
        for (int tries = 0; tries < 20 && !port6; ++tries) {
            if (listenOn6) {
                refusing4 = std::make_unique<RefusingPort>();
                port = refusing4->Port();
            } else {
                peer4 = std::make_unique<LoopbackPeer>();
                port = peer4->Port();
            }
            auto candidate = std::make_unique<Loopback6Port>(listenOn6, port);
            if (candidate->Ok()) {
                port6 = std::move(candidate);
            }
        }
    }
};

// Most tests need one socket, with its events recorded; blocks that need a
// fresh one each declare their own.
class WSocket : public ::testing::Test {
protected:
    QCoreApplication& app = TestApplication(); // before any socket
    TWSocket socket;
    Recorder rec{socket};
};

// These skip, saying why, on a machine without ::1.
class WSocketIPv6 : public WSocket {
protected:
    void SetUp() override {
        if (!Loopback6Port(true, 0).Ok()) {
            GTEST_SKIP() << "this machine has no IPv6 loopback: ::1 cannot be bound, so "
                            "connecting over IPv6 cannot be tried";
        }
    }
};

TEST_F(WSocket, ConnectsAndExchangesData) {
    LoopbackPeer peer;
    auto accepted = std::async(std::launch::async, [&] {
        if (!peer.Accept()) {
            return Bytes{};
        }
        peer.SendText("hello");
        return peer.Read(5);
    });
    StartConnect(socket, peer.Port());
    EXPECT_EQ(socket.State(), wsConnecting);
    ASSERT_TRUE(ProcessEventsUntil([&] { return rec.data.size() == 5; }));
    EXPECT_EQ(socket.State(), wsConnected);
    EXPECT_EQ(rec.Text(), "hello");
    EXPECT_EQ(rec.events, (Texts{"connected 0", "data"}));
    EXPECT_EQ(socket.ReadCount(), 5);

    EXPECT_EQ(socket.Send("world", 5), 5);
    const Bytes echoed = accepted.get();
    EXPECT_EQ(std::string(echoed.begin(), echoed.end()), "world");

    socket.Close();
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_EQ(rec.closed, 1);
    // Closing forgets the address: it has to be given again.
    EXPECT_EQ(socket.Addr(), "");
    EXPECT_EQ(socket.Proto(), "tcp");
    EXPECT_EQ(socket.ReadCount(), 0);
    EXPECT_EQ(ErrorOf([&] { socket.Connect(); }), "Connect: No Port Specified");
}

// The socket that was refused still reads a name no host can have as ever,
// whichever lookup is in use.
TEST_F(WSocket, RefusedConnectReportsThenClosesAndLookupsFailAsBefore) {
    RefusingPort refusing;
    Aim(socket, "127.0.0.1", std::to_string(refusing.Port()));
    EXPECT_EQ(EventsUntilClosed(socket, rec), kRefused);
    EXPECT_EQ(socket.State(), wsClosed);

    const std::string cannot = "connect: WSocketResolveHost: Cannot convert host address "
                               "'no such host!', Error #11001";
    EXPECT_EQ(ConnectError(socket, "no such host!", "23"), cannot);
    for (const THostLookup lookup : {NoSuchName, SystemHostLookup}) {
        socket.SetHostLookup(lookup);
        EXPECT_EQ(ConnectError(socket, "no such host!", "23"), cannot);
    }
    EXPECT_EQ(socket.State(), wsClosed);
}

TEST_F(WSocket, SettingsAndResolutionErrors) {
    EXPECT_EQ(ConnectError(socket, "", "23"), "Connect: No IP Address Specified");
    socket.SetProto("");
    EXPECT_EQ(ConnectError(socket, "127.0.0.1", "23"), "Connect: No Protocol Specified");
    socket.SetProto(" tcp ");
    EXPECT_EQ(socket.Proto(), "tcp");
    // A name no host can have: the lookup refuses it without a name server.
    EXPECT_EQ(ConnectError(socket, "no such host!", "23"),
              "connect: WSocketResolveHost: Cannot convert host address 'no such host!', "
              "Error #11001");
    EXPECT_EQ(ConnectError(socket, "127.0.0.1", "nosuchservice"),
              "connect: WSocketResolvePort: Cannot convert port 'nosuchservice', Error #11004");
    EXPECT_EQ(ConnectError(socket, "127.0.0.1", "99999"),
              "connect: WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ConnectError(socket, std::string(257, 'a'), "23"),
              "connect: WSocketResolveHost: '" + std::string(257, 'a') + "' Invalid Hostname.");
    EXPECT_EQ(ConnectError(socket, "255.255.255.0255", "23"),
              "connect: WSocketResolveHost: '255.255.255.0255' Invalid IP address.");
    EXPECT_EQ(socket.State(), wsClosed);

    // Values are trimmed.
    socket.SetAddr("  localhost \t");
    EXPECT_EQ(socket.Addr(), "localhost");
    EXPECT_EQ(ErrorOf([&] { socket.Send("x", 1); }),
              "Error 10057 in function Send\r\nSocket is not connected");

    // A local address this machine does not have (TEST-NET-1) cannot be bound.
    socket.SetLocalAddr("192.0.2.1");
    EXPECT_EQ(ConnectError(socket, "127.0.0.1", "23"), "winsock.bind failed, error #10049");
    EXPECT_EQ(socket.LastError(), 10049);
    socket.Close();
    EXPECT_EQ(socket.State(), wsClosed);
}

TEST_F(WSocket, PropertiesAreFixedWhileNotClosed) {
    LoopbackPeer peer;
    const std::string port = peer.PortText();
    StartConnect(socket, peer.Port());
    // Still connecting: nobody has accepted yet and no event has been dispatched.
    EXPECT_EQ(ErrorOf([&] { socket.SetPort("24"); }), "Cannot change Port if not closed");
    EXPECT_THROW(socket.SetAddr("10.0.0.1"), ESocketException);
    EXPECT_THROW(socket.SetProto("udp"), ESocketException);
    EXPECT_EQ(ErrorOf([&] { socket.Connect(); }), "Connect: Socket already in use");
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(Connected(socket));
    EXPECT_NO_THROW(socket.SetPort(port));
    EXPECT_NO_THROW(socket.SetAddr(" 127.0.0.1 "));
    EXPECT_EQ(socket.Port(), port);
}

TEST_F(WSocket, SocketOptionsLocalBindAndResetOnClose) {
    LoopbackPeer peer;
    socket.SetLocalAddr("127.0.0.1");
    StartConnect(socket, peer.Port());
    const int fd = socket.HSocket();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(IntOption(fd, SOL_SOCKET, SO_REUSEADDR), 1);
    EXPECT_EQ(IntOption(fd, SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(IntOption(fd, IPPROTO_TCP, TCP_NODELAY), 0) << "Nagle stays on by default";
    EXPECT_EQ(Linger(fd).l_onoff, 1);
    EXPECT_EQ(Linger(fd).l_linger, 0);
    // Bound to the local address given: the port the system chose is shown.
    EXPECT_NE(socket.LocalPort(), "0");
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(Connected(socket));

    socket.SetLingerOnOff(wsLingerNoSet);
    socket.SetComponentOptions(wsoTcpNoDelay);
    socket.Close();
    EXPECT_EQ(socket.LocalAddr(), "0.0.0.0");
    EXPECT_EQ(socket.LocalPort(), "0");
    EXPECT_EQ(socket.LingerOnOff(), wsLingerOn);
    EXPECT_EQ(socket.LingerTimeout(), 0);
    EXPECT_EQ(socket.ComponentOptions(), unsigned{wsoTcpNoDelay}) << "options outlive a close";

    // With the option Nagle is off; linger left alone is the system's (off).
    LoopbackPeer second;
    socket.SetLingerOnOff(wsLingerNoSet);
    StartConnect(socket, second.Port());
    EXPECT_EQ(IntOption(socket.HSocket(), IPPROTO_TCP, TCP_NODELAY), 1);
    EXPECT_EQ(Linger(socket.HSocket()).l_onoff, 0);
    ASSERT_TRUE(second.Accept());
    ASSERT_TRUE(Connected(socket));
    EXPECT_EQ(rec.events, (Texts{"connected 0", "closed 0", "connected 0"}));
}

TEST_F(WSocket, PeerDataBeforeCloseIsAllDelivered) {
    LoopbackPeer peer;
    const Bytes sent = Numbered(300000);
    auto sender = std::async(std::launch::async, [&] {
        if (peer.Accept()) {
            peer.SendAll(sent);
            peer.CloseConnection();
        }
    });
    StartConnect(socket, peer.Port());
    ASSERT_TRUE(ProcessEventsUntil([&] { return rec.closed > 0; }));
    sender.get();
    ProcessEventsFor(50);
    EXPECT_EQ(rec.data, sent);
    EXPECT_EQ(rec.events, (Texts{"connected 0", "data", "closed 0"}));
    EXPECT_EQ(socket.State(), wsClosed);
}

TEST_F(WSocket, SendQueuesChunksWhileThePeerDoesNotRead) {
    LoopbackPeer peer(4096);
    ASSERT_TRUE(ConnectTo(socket, peer));

    // Fill every buffer between us and the peer, so the network takes nothing.
    Bytes filler;
    const int fd = socket.HSocket();
    std::uint8_t block[4096];
    for (int i = 0;; ++i) {
        for (int j = 0; j < 4096; ++j) {
            block[j] = static_cast<std::uint8_t>(filler.size() + static_cast<std::size_t>(j));
        }
        const ssize_t n = ::send(fd, block, sizeof block, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n <= 0) {
            break;
        }
        filler.insert(filler.end(), block, block + n);
        ASSERT_LT(i, 100000) << "the network never filled up";
    }
    const Bytes payload = Numbered(4000, 7);
    EXPECT_EQ(socket.Send(payload.data(), 4000), 4000);
    EXPECT_EQ(socket.QueuedChunks(), (std::vector<int>{1460, 1460, 1080}));
    EXPECT_FALSE(socket.AllSent());
    EXPECT_EQ(socket.Send(payload.data(), 0), 0);

    // Once the peer reads, write notices drain the queue in order.
    auto reader = std::async(std::launch::async, [&] { return peer.Read(filler.size() + 4000); });
    ASSERT_TRUE(ProcessEventsUntil([&] { return socket.AllSent(); }));
    Bytes expected = filler;
    expected.insert(expected.end(), payload.begin(), payload.end());
    EXPECT_EQ(reader.get(), expected);
    EXPECT_TRUE(socket.QueuedChunks().empty() || socket.QueuedChunks() == std::vector<int>{0});
}

TEST_F(WSocket, FailingDataHandlerClosesTheConnection) {
    LoopbackPeer peer;
    int calls = 0;
    socket.SetOnDataAvailable([&](TWSocket& s, int) {
        std::uint8_t buffer[16];
        s.Receive(buffer, sizeof buffer);
        ++calls;
        throw std::runtime_error("FIFO is too full!");
    });
    StartConnect(socket, peer.Port());
    ASSERT_TRUE(peer.Accept());
    peer.SendText("some data that will not fit");
    ASSERT_TRUE(ProcessEventsUntil([&] { return rec.closed > 0; }));
    ProcessEventsFor(50);
    EXPECT_EQ(calls, 1);
    // The close says it was aborted, and why, so the owner can tell the user.
    EXPECT_EQ(rec.events, (Texts{"connected 0", "closed 10053"}));
    EXPECT_EQ(socket.HandlerFailure(), "FIFO is too full!");
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_TRUE(peer.WaitForClose());
}

TEST_F(WSocket, SendFromAnotherThreadWhileDataFlows) {
    LoopbackPeer peer;
    const Bytes incoming = Numbered(2'000'000, 3);
    constexpr int kMessages = 2000;
    constexpr int kMessageSize = 37;
    ASSERT_TRUE(ConnectTo(socket, peer));

    auto peerSide = std::async(std::launch::async, [&] {
        peer.SendAll(incoming);
        return peer.Read(static_cast<std::size_t>(kMessages) * kMessageSize, 10000);
    });
    std::atomic<bool> senderDone{false};
    std::string sendError;
    std::thread sender([&] {
        sendError = ErrorOf([&] {
            for (int m = 0; m < kMessages; ++m) {
                socket.Send(Numbered(kMessageSize, m).data(), kMessageSize);
            }
        });
        senderDone = true;
    });
    const bool drained = ProcessEventsUntil(
        [&] { return senderDone && socket.AllSent() && rec.data.size() == incoming.size(); },
        10000);
    sender.join();
    EXPECT_EQ(sendError, "no error");
    ASSERT_TRUE(drained);
    Bytes expected;
    for (int m = 0; m < kMessages; ++m) {
        const Bytes message = Numbered(kMessageSize, m);
        expected.insert(expected.end(), message.begin(), message.end());
    }
    EXPECT_EQ(peerSide.get(), expected);
    EXPECT_EQ(rec.data, incoming);
}

TEST_F(WSocket, ConnectFromAnotherThreadDispatchesOnTheOwner) {
    LoopbackPeer peer;
    std::thread::id eventThread;
    socket.SetOnSessionConnected([&](TWSocket&, int error) {
        eventThread = std::this_thread::get_id();
        rec.events.push_back("connected " + std::to_string(error));
    });
    std::thread([&] { StartConnect(socket, peer.Port()); }).join();
    ASSERT_TRUE(peer.Accept());
    peer.SendText("abc");
    ASSERT_TRUE(ProcessEventsUntil([&] { return rec.data.size() == 3; }));
    EXPECT_EQ(eventThread, std::this_thread::get_id());

    // Closed and connected again from the other thread: the old handle's
    // notices must not reach the new connection.
    LoopbackPeer second;
    std::thread([&] {
        socket.Close();
        StartConnect(socket, second.Port());
    }).join();
    ASSERT_TRUE(second.Accept());
    second.SendText("def");
    ASSERT_TRUE(ProcessEventsUntil([&] { return rec.data.size() == 6; }));
    EXPECT_EQ(rec.Text(), "abcdef");
    EXPECT_EQ(rec.closed, 1);
}

TEST_F(WSocket, DestroyingAnOpenSocketReportsNoClose) {
    LoopbackPeer peer;
    int closed = 0;
    {
        TWSocket socket;
        socket.SetOnSessionClosed([&](TWSocket&, int) { ++closed; });
        ASSERT_TRUE(ConnectTo(socket, peer));
    }
    ProcessEventsFor(20);
    EXPECT_EQ(closed, 0);
    EXPECT_TRUE(peer.WaitForClose());
}

TEST_F(WSocket, DestroyedOnAnotherThreadStopsItsNotifiersOnTheOwner) {
    LoopbackPeer peer;
    auto doomed = std::make_unique<TWSocket>();
    ASSERT_TRUE(ConnectTo(*doomed, peer));
    std::thread([&] { doomed.reset(); }).join();
    peer.SendText("late data");
    ProcessEventsFor(50);
    EXPECT_TRUE(peer.WaitForClose());
}

TEST_F(WSocket, EventsCausedOnAnotherThreadRunOnTheOwningThread) {
    LoopbackPeer peer;
    std::atomic<bool> closedOnOwner{false};
    std::atomic<int> closed{0};
    const std::thread::id owner = std::this_thread::get_id();
    socket.SetOnSessionClosed([&](TWSocket&, int) {
        closedOnOwner = std::this_thread::get_id() == owner;
        ++closed;
    });
    // Connect (which may close first) and Close from a connection thread.
    std::thread([&] { StartConnect(socket, peer.Port()); }).join();
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(Connected(socket));
    std::thread([&] { socket.Close(); }).join();
    ASSERT_TRUE(ProcessEventsUntil([&] { return closed > 0; }));
    EXPECT_TRUE(closedOnOwner);
    EXPECT_EQ(closed, 1);
}

TEST_F(WSocket, CloseDuringTheNameLookupCancelsTheConnect) {
    LoopbackPeer peer;
    socket.SetHostLookup(SlowLookup);
    Aim(socket, "slow.bbs.example", peer.PortText());
    g_lookupStarted = false;
    g_lookupMayAnswer = false;
    const int before = OpenDescriptors();
    auto connecting = std::async(std::launch::async, [&] { socket.Connect(); });
    ASSERT_TRUE(ProcessEventsUntil([] { return g_lookupStarted.load(); }));
    socket.Close(); // the user pressed Disconnect
    g_lookupMayAnswer = true;
    ASSERT_EQ(connecting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    connecting.get(); // a cancelled connect is not an error
    ProcessEventsFor(100);
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_FALSE(peer.Accept(200)) << "connected although the user closed first";
    EXPECT_TRUE(rec.events.empty());
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(WSocket, ACloseAtAnyMomentOfAConnectEndsClosedAndLeaksNothing) {
    LoopbackPeer peer;
    const int before = OpenDescriptors();
    for (int round = 0; round < 100; ++round) {
        TWSocket socket;
        Aim(socket, "127.0.0.1", peer.PortText());
        std::atomic<bool> go{false};
        std::thread connecting([&] {
            while (!go) {
            }
            ErrorOf([&] { socket.Connect(); });
        });
        go = true;
        std::this_thread::sleep_for(std::chrono::microseconds(round * 7));
        socket.Close();
        connecting.join();
        socket.Close(); // a connect that got in before the first close ends here
        ProcessEventsFor(2);
        EXPECT_EQ(socket.State(), wsClosed) << "round " << round;
        peer.Accept(0);
        peer.CloseConnection();
    }
    ProcessEventsFor(50);
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(WSocket, AFailedConnectClosesItsSocketAndReportsNothingLater) {
    // Binding to a local port that is taken fails after the socket exists.
    LoopbackPeer taken;
    LoopbackPeer peer;
    const int before = OpenDescriptors();
    socket.SetLocalAddr("127.0.0.1");
    socket.SetLocalPort(taken.PortText());
    EXPECT_NE(ConnectError(socket, "127.0.0.1", peer.PortText()), "no error");
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_EQ(OpenDescriptors(), before);
    socket.Close();
    ProcessEventsFor(50);
    EXPECT_TRUE(rec.events.empty()) << "a close was reported for a session that never was";
}

// ---------------------------------------------------------------- IPv6 and several addresses

TEST_F(WSocketIPv6, ConnectsToAnIPv6Address) {
    for (const std::string addr : {"::1", "[::1]", " ::1 "}) {
        SCOPED_TRACE(addr);
        Loopback6Port peer(true, 0);
        ASSERT_TRUE(peer.Ok());
        TWSocket socket;
        Recorder rec(socket);
        Aim(socket, addr, std::to_string(peer.Port()));
        socket.Connect();
        EXPECT_EQ(socket.State(), wsConnecting);
        ASSERT_TRUE(peer.Accept());
        ASSERT_TRUE(peer.SendText("hello"));
        ASSERT_TRUE(ProcessEventsUntil([&] { return rec.data.size() == 5; }));
        EXPECT_EQ(rec.events, (Texts{"connected 0", "data"}));
        EXPECT_EQ(socket.Send("world", 5), 5);
        EXPECT_EQ(peer.Read(5), "world");
        EXPECT_EQ(peer.PeerText(), "::1");
        socket.Close();
        EXPECT_EQ(rec.events.back(), "closed 0");
    }
}

TEST_F(WSocketIPv6, ARefusedIPv6AddressReportsAsARefusedIPv4One) {
    Loopback6Port refusing(false, 0);
    ASSERT_TRUE(refusing.Ok());
    Aim(socket, "::1", std::to_string(refusing.Port()));
    EXPECT_EQ(EventsUntilClosed(socket, rec), kRefused);
}

TEST_F(WSocketIPv6, EachAddressIsTriedInTurnUntilOneConnects) {
    // IPv6 first and refused, then IPv4 where the peer listens.
    {
        TwoFamilies ports(false);
        ASSERT_TRUE(ports.port6) << "no port free on both ::1 and 127.0.0.1";
        g_namesAsked.clear();
        TWSocket socket;
        Recorder rec(socket);
        AimListed(socket, {Loopback6(), Loopback4()}, ports.port);
        socket.Connect();
        ASSERT_TRUE(Settled(socket, rec)) << ::testing::PrintToString(rec.events);
        ASSERT_TRUE(ports.peer4->Accept());
        ports.peer4->SendText("v4");
        ASSERT_TRUE(ProcessEventsUntil([&] { return rec.data.size() == 2; }));
        // The refused address is not reported: the session simply connected.
        EXPECT_EQ(rec.events, (Texts{"connected 0", "data"}));
        EXPECT_EQ(g_namesAsked, Texts{"both.bbs.example"});
    }
    // IPv4 first and refused, then IPv6 where the peer listens.
    {
        TwoFamilies ports(true);
        ASSERT_TRUE(ports.port6) << "no port free on both ::1 and 127.0.0.1";
        TWSocket socket;
        Recorder rec(socket);
        AimListed(socket, {Loopback4(), Loopback6()}, ports.port);
        socket.Connect();
        ASSERT_TRUE(Settled(socket, rec)) << ::testing::PrintToString(rec.events);
        ASSERT_TRUE(ports.port6->Accept());
        ports.port6->SendText("v6");
        ASSERT_TRUE(ProcessEventsUntil([&] { return rec.data.size() == 2; }));
        EXPECT_EQ(rec.events, (Texts{"connected 0", "data"}));
        EXPECT_EQ(rec.Text(), "v6");
        EXPECT_EQ(socket.Send("ok", 2), 2);
        EXPECT_EQ(ports.port6->Read(2), "ok");
        socket.Close();
        EXPECT_EQ(rec.closed, 1);
    }
}

TEST_F(WSocketIPv6, WhenEveryAddressFailsTheLastFailureIsReported) {
    TwoFamilies ports(true);
    ASSERT_TRUE(ports.port6) << "no port free on both ::1 and 127.0.0.1";
    Loopback6Port refusing6(false, 0);
    ASSERT_TRUE(refusing6.Ok());
    // Both refuse: one refusal, then the close, as for a single address.
    {
        RefusingPort refusing4;
        TWSocket socket;
        Recorder rec(socket);
        AimListed(socket, {Loopback6(), Loopback4()}, refusing4.Port());
        EXPECT_EQ(EventsUntilClosed(socket, rec), kRefused);
        EXPECT_EQ(socket.State(), wsClosed);
    }
    // Bound to an IPv4 local address, an IPv6 peer cannot be tried at all
    // (10047). IPv6 goes first whatever the lookup's order, so the IPv4
    // refusal (on ports.port) is the last failure either way.
    for (const auto& order :
         {std::vector{Loopback4(), Loopback6()}, std::vector{Loopback6(), Loopback4()}}) {
        SCOPED_TRACE(order.front().Text() + " first");
        TWSocket socket;
        Recorder rec(socket);
        socket.SetLocalAddr("127.0.0.1");
        AimListed(socket, order, ports.port);
        EXPECT_EQ(EventsUntilClosed(socket, rec), kRefused);
    }
    // No address can even be tried: Connect raises the last failure.
    {
        TWSocket socket;
        Recorder rec(socket);
        socket.SetLocalAddr("127.0.0.1");
        AimListed(socket, {Loopback6()}, refusing6.Port(), "six.bbs.example");
        const int before = OpenDescriptors();
        EXPECT_EQ(ErrorOf([&] { socket.Connect(); }), "winsock.bind failed, error #10047");
        EXPECT_EQ(socket.LastError(), 10047);
        EXPECT_EQ(socket.State(), wsClosed);
        EXPECT_EQ(OpenDescriptors(), before);
        ProcessEventsFor(20);
        EXPECT_TRUE(rec.events.empty());
    }
}

// A name whose IPv6 address is dead (a silent ::1 port) and whose IPv4
// one answers: the IPv4 attempt starts a quarter second later and wins,
// instead of after the kernel's two minutes. A silent name alone is given
// up after the connect timeout as "Connection timed out".
TEST_F(WSocketIPv6, ASilentAddressIsRacedByTheNextAndGivenUpAfterTheTimeout) {
    LoopbackPeer peer4;
    SilentPort silent6(AF_INET6, peer4.Port());
    ASSERT_TRUE(silent6.Ok()) << "no silent port on ::1 beside 127.0.0.1's";
    {
        TWSocket socket;
        Recorder rec(socket);
        // raced IPv6 first all the same
        AimListed(socket, {Loopback4(), Loopback6()}, peer4.Port(), "half.bbs.example");
        Texts tried;
        socket.SetOnTrying([&](const std::string& address) { tried.push_back(address); });
        socket.Connect();
        ASSERT_TRUE(Settled(socket, rec)) << ::testing::PrintToString(rec.events);
        EXPECT_TRUE(peer4.Accept());
        EXPECT_EQ(tried.size(), 2u);
        EXPECT_EQ(rec.events, Texts{"connected 0"});
    }
    SilentPort silent4(AF_INET, 0);
    ASSERT_TRUE(silent4.Ok());
    Aim(socket, "127.0.0.1", std::to_string(silent4.Port()));
    socket.SetConnectTimeout(std::chrono::milliseconds(300));
    const int before = OpenDescriptors();
    socket.Connect();
    ASSERT_TRUE(ProcessEventsUntil([&] { return rec.closed > 0; }));
    EXPECT_EQ(rec.events, (Texts{"connected 10060", "closed 0"}));
    ProcessEventsFor(20);
    EXPECT_EQ(OpenDescriptors(), before);
}

// A Close() from another thread while addresses race stops every attempt.
TEST_F(WSocket, ACloseDuringTheRaceStopsEveryAttempt) {
    SilentPort silent4(AF_INET, 0);
    ASSERT_TRUE(silent4.Ok());
    Aim(socket, "127.0.0.1", std::to_string(silent4.Port()));
    const int before = OpenDescriptors();
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        socket.Close();
    });
    socket.Connect(); // returns once closed, long before the connect timeout
    closer.join();
    EXPECT_EQ(socket.State(), wsClosed);
    ProcessEventsFor(20);
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_TRUE(rec.events.empty());
}

TEST_F(WSocket, ALookupOfOneIPv4AddressStillServes) {
    LoopbackPeer peer;
    socket.SetHostLookup(OneLoopbackAddress);
    Aim(socket, "bbs.example", peer.PortText());
    socket.Connect();
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(Settled(socket, rec));
    socket.Close();
    // The system's lookup, given back as the one-address kind, is the full
    // one again: localhost reaches the peer on whichever address it has.
    LoopbackPeer second;
    socket.SetHostLookup(SystemHostLookup);
    Aim(socket, "localhost", second.PortText());
    socket.Connect();
    ASSERT_TRUE(second.Accept());
    ASSERT_TRUE(Connected(socket));
    EXPECT_EQ(rec.events, (Texts{"connected 0", "closed 0", "connected 0"}));
}

TEST_F(WSocketIPv6, CloseWhileTheFirstAddressIsSilentStopsTheRest) {
    LoopbackPeer peer4;
    SilentPort silent6(AF_INET6, peer4.Port());
    ASSERT_TRUE(silent6.Ok()) << "no silent port on ::1 beside 127.0.0.1's";
    AimListed(socket, {Loopback6(), Loopback4()}, peer4.Port());
    // Closed before the next address's turn: 127.0.0.1 is not tried.
    std::thread closer([&] {
        std::this_thread::sleep_for(TWSocket::kAttemptDelay / 3);
        socket.Close();
    });
    socket.Connect();
    closer.join();
    ProcessEventsFor(100);
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_TRUE(rec.events.empty());
    EXPECT_FALSE(peer4.Accept(200)) << "went on to the next address after the close";
}

} // namespace
