#pragma once

#include "common/hand_over.h"
#include "connection/telnet/buffer.h"
#include "connection/telnet/socket_resolver.h"
#include "connection/telnet/winsock_errors.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <utility>
#include <vector>

class QSocketNotifier;

enum TSocketState {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed
};

enum TWSocketOption : unsigned {
    wsoNoReceiveLoop = 1u << 0, // one data event per notification
    wsoTcpNoDelay = 1u << 1,    // Nagle off
};

enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };

// Event-driven TCP client (IPv4 and IPv6) over a non-blocking POSIX socket. A host with several
// addresses is tried one address after the other until one connects. The socket's notifications
// are watched on the thread that created the object and all events are dispatched there,
// whichever thread caused them. Connect (with its blocking name lookup), Send and Close may be
// called from other threads; the send queue and the handle are guarded by a lock that is never
// held while an event runs. Destroy the object on the thread that created it.
class TWSocket : public QObject {
    Q_OBJECT

public:
    using SessionEvent = std::function<void(TWSocket& sender, int error)>;

    // Each new chunk of the send queue holds this many bytes (one TCP segment).
    static constexpr int kSendChunkSize = 1460;
    // Bytes read and thrown away per pass when no data handler is set.
    static constexpr int kDiscardSize = 1024;
    // Data events per read notification before the event loop gets its turn
    // again; the notifier fires again while bytes are waiting.
    static constexpr int kMaxReceivePasses = 64;

    explicit TWSocket(QObject* parent = nullptr);
    ~TWSocket() override;

    std::string Addr() const;
    void SetAddr(const std::string& addr);
    std::string Port() const;
    void SetPort(const std::string& port);
    std::string Proto() const;
    void SetProto(const std::string& proto);
    std::string LocalAddr() const;
    void SetLocalAddr(const std::string& addr);
    std::string LocalPort() const;
    void SetLocalPort(const std::string& port);
    TSocketLingerOnOff LingerOnOff() const;
    void SetLingerOnOff(TSocketLingerOnOff onOff);
    int LingerTimeout() const;
    void SetLingerTimeout(int seconds);
    unsigned ComponentOptions() const { return m_options.load(); }
    void SetComponentOptions(unsigned options) { m_options.store(options); }

    TSocketState State() const { return m_state.load(); }
    int LastError() const { return m_lastError.load(); }
    std::int64_t ReadCount() const { return m_readCount.load(); }
    int HSocket() const;
    bool AllSent() const;
    // Unsent bytes of each chunk of the send queue, oldest first.
    std::vector<int> QueuedChunks() const;

    void SetOnSessionConnected(SessionEvent handler) { m_onSessionConnected = std::move(handler); }
    void SetOnSessionClosed(SessionEvent handler) { m_onSessionClosed = std::move(handler); }
    void SetOnDataAvailable(SessionEvent handler) { m_onDataAvailable = std::move(handler); }
    // How Connect looks host names up; the system's resolver unless a test
    // needs a slow or failing one. Set while closed. A lookup of one IPv4
    // address gives Connect that address only; SystemHostLookup given here
    // stands for the system's full lookup, SystemHostAddressLookup, so a
    // caller that passes the default on still reaches IPv6 hosts.
    void SetHostLookup(THostLookup lookup);
    void SetHostLookup(THostAddressLookup lookup);

    // Resolves and connects; the outcome arrives as OnSessionConnected. The
    // host's addresses race as current clients have them (RFC 8305): IPv6
    // and IPv4 interleaved, the next address started kAttemptDelay after the
    // last unless that one has connected (at once when it fails), the first
    // to connect wins and the others are closed. Only the last failure is
    // reported: raised here when no connect got under way, else through
    // OnSessionConnected, "Connection timed out" (10060) when none has
    // connected after the connect timeout. Errors before that raise
    // ESocketException and leave the socket closed. A Close() on another
    // thread at any moment of it (also during the name lookup) cancels every
    // attempt: Connect returns without connecting and the state is wsClosed.
    // Blocks the calling thread (a connection's own) while the race runs.
    void Connect();
    static constexpr std::chrono::milliseconds kAttemptDelay{250};
    static constexpr std::chrono::milliseconds kDefaultConnectTimeout{30000};
    void SetConnectTimeout(std::chrono::milliseconds timeout);
    // Told on the connecting thread of each address as its attempt starts.
    void SetOnTrying(std::function<void(const std::string& address)> trying) {
        m_onTrying = std::move(trying);
    }
    // Queues the bytes and sends what the network takes now; the rest goes
    // out on write notices. Returns count (0 for none).
    int Send(const void* data, int count);
    // One non-blocking receive: the count, 0 when the peer has closed, or -1
    // with LastError set (10035 when nothing is waiting).
    int Receive(void* buffer, int size);
    void Close();
    // Any thread. While paused the socket is not read: what the peer sends
    // waits in the system, whose full window holds the peer back, and a close
    // by the peer is noticed once reading resumes, after the data before it.
    void SetReceivePaused(bool paused);
    bool ReceivePaused() const { return m_receivePaused.load(); }
    // Abortive close after a failed event handler: the queue is dropped.
    void Abort();
    // What the event handler that ended the connection threw; empty when
    // none did. Such a close reports error 10053 (connection aborted).
    std::string HandlerFailure() const;

private:
    enum class SendResult { Drained, Pending, Failed };
    struct Resolved {
        std::vector<TSocketAddress> peers; // with the port, in the order to try
        int proto = 0;
        int sockType = 0;
        TSocketAddress local; // when not localAny
        bool localAny = true;
        std::uint16_t localPort = 0; // network order
    };
    // Why one address could not be tried: the Winsock number and the message.
    struct Failure {
        int code = 0;
        std::string message;
    };

    static std::string Trimmed(const std::string& text);
    void SetProperty(std::string& field, bool& assigned, const std::string& value,
                     const char* name);
    // Reads the properties and marks a connect as running; then looks up.
    Resolved ResolveAll();
    void FinishConnect();
    int StartAttemptLocked(const TSocketAddress& peer, Failure& failure);
    bool SetSocketOptionsLocked(int fd, Failure& failure);
    bool BindLocalLocked(int fd, int family, Failure& failure);
    // The race of m_attempt's addresses: the handle that connected (or, for
    // the failure to report, the last one tried, with its error in
    // pendingError), or -1 when a Close() cancelled it. Raises when no
    // connect got under way.
    int RaceAttempts(int& pendingError);
    // Whether a Close() has cancelled the connect under way.
    bool ConnectCancelled() const;
    [[noreturn]] void RaiseSocketError(int code, const std::string& function);

    void CloseSocket(bool report, bool shutdownFirst, int error = 0);
    void AbortWith(int error);
    void CloseAfterError(int code);
    void ResetDefaultsLocked();
    void RetireHandleLocked();
    SendResult TryToSendLocked(int& error);
    void HandleSendResult(SendResult result, int error);

    void ArmNotifiers(std::uint64_t generation);
    void ReleaseNotifiers();
    void EnableWriteNotice(std::uint64_t generation);
    void ApplyReceivePause(std::uint64_t generation);
    std::uint64_t Generation() const;

    void Dispatch(std::uint64_t generation, void (TWSocket::*notice)());
    void AbortAfterHandlerFailure(const std::string& text);
    void ReadNotice();
    void WriteNotice();
    void UrgentNotice();
    void ConnectNotice();
    void CloseNotice(int error);
    void ReceiveLoop(bool loop);
    // Runs the event on the owning thread: at once when called there,
    // otherwise queued to it (THandOver::RunOrPost).
    void Fire(SessionEvent TWSocket::*event, int error);

    mutable std::mutex m_mutex;
    // Guarded by m_mutex:
    std::string m_addr;
    bool m_addrAssigned = false;
    std::string m_port;
    bool m_portAssigned = false;
    std::string m_proto = "tcp";
    bool m_protoAssigned = true;
    std::string m_localAddr = "0.0.0.0";
    std::string m_localPort = "0";
    TSocketLingerOnOff m_lingerOnOff = wsLingerOn;
    int m_lingerTimeout = 0;
    int m_handle = -1;
    std::uint64_t m_generation = 0;
    std::deque<TBuffer> m_sendQueue;
    bool m_allSent = true;
    bool m_closeReported = false;
    // Handles closed from another thread, closed for good on the owning
    // thread once their notifiers are gone, so a number is never reused
    // under a live notifier.
    std::vector<int> m_retiredHandles;
    // A Connect between its start and its connect call, and whether a
    // Close() has cancelled it.
    bool m_connectRunning = false;
    bool m_connectCancelled = false;
    // The addresses of the connect under way.
    Resolved m_attempt;
    std::chrono::milliseconds m_connectTimeout = kDefaultConnectTimeout;
    // The failure the race found, reported by the connect notice.
    int m_pendingConnectError = 0;
    std::function<void(const std::string& address)> m_onTrying;
    THostLookup m_hostLookup = nullptr;
    THostAddressLookup m_addressLookup = SystemHostAddressLookup;
    std::string m_handlerFailure;

    std::atomic<TSocketState> m_state{wsClosed};
    std::atomic<int> m_lastError{0};
    std::atomic<std::int64_t> m_readCount{0};
    std::atomic<unsigned> m_options{0};
    std::atomic<bool> m_destroying{false};
    std::atomic<bool> m_receivePaused{false};
    // A connection error that the read notice took from the socket while
    // looking for data; the next Receive reports it, as a receive would have.
    std::atomic<int> m_pendingReceiveError{0};

    // Owning thread only:
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    std::unique_ptr<QSocketNotifier> m_urgentNotifier;
    std::uint64_t m_notifierGeneration = 0;

    SessionEvent m_onSessionConnected;
    SessionEvent m_onSessionClosed;
    SessionEvent m_onDataAvailable;

    // Steps for the owning thread from other threads.
    telvora::THandOver m_owner;
};
