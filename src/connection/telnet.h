#pragma once

#include "connection/capture_file.h"
#include "connection/live_connection.h"
#include "connection/telnet/socket_resolver.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

class TTnCnx;

namespace telvora {

// What a TCP line speaks: Telnet, or nothing at all (raw TCP, for boards
// behind a plain TCP bridge, where every byte is data both ways).
enum class TLineProtocol { Telnet, Raw };

// A Telnet or raw TCP connection to a BBS. The Telnet component is made on the
// user-interface thread, so its socket's events and the Telnet parser run
// there and fill the FIFO; the connection's thread connects (the name lookup
// may block it) and delivers.
//
// Nothing received is lost: while the FIFO has no room for another receive
// the socket is not read, so TCP holds the sender back, and after the remote
// side has closed what was received before the close is shown first.
class TTelnet : public TLiveConnection {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kPollPeriod{100};
    static constexpr const char* kTermType = "ATASCII";

    // Create on the user-interface thread; Start() connects. The capture
    // file (may be null) is shared with the window, which switches it.
    TTelnet(std::string host, std::string port, int speed, std::shared_ptr<TScreenSink> screen,
            std::shared_ptr<TCaptureFile> capture, THostLookup hostLookup = SystemHostLookup,
            TLineProtocol protocol = TLineProtocol::Telnet);
    ~TTelnet() override;
    // Before Start: how long the connect may take, and a lookup of every
    // address of a name instead of hostLookup's one (tests give their own).
    void SetConnectTimeout(std::chrono::milliseconds timeout);
    void SetHostAddressLookup(THostAddressLookup lookup);

    Kind ConnectionKind() const override;
    // One byte as Telnet data (a 255 doubled, a CR as CR NUL unless we send
    // binary), or as it is over raw TCP; dropped while not connected. A send
    // that fails ends the line and throws what went wrong.
    void SendByte(std::uint8_t code) override;
    // While a transfer runs the Telnet layer hands it data bytes only, still
    // answering negotiation; without the filter it passes the bytes as they come.
    void SetTransferMode(bool on, bool rawFilter,
                         std::shared_ptr<TChunkSink> receiver = nullptr) override;

    // As SendByte, for a transfer's bytes; only while connected.
    void SendTransferBytes(const std::uint8_t* bytes, int count) override;
    bool LineUp() const override;

    const std::string& Host() const { return m_host; }
    // The Telnet component, for a transfer's replies. User-interface thread.
    TTnCnx& TnCnx() { return *m_tnCnx; }

Q_SIGNALS:
    // The peer answered like a plain TCP bridge, not a Telnet server (once
    // per line, user-interface thread).
    void RawPeerSeen();

protected:
    void Open() override;
    std::optional<TLineEnd> EndOfLine() override;
    bool MayDeliver() const override;
    void RoomMade() override;
    void BlockTaken(const std::uint8_t* block, int count) override;
    void StopRequestedHook() override;

private:
    // Handlers of the Telnet component's events (user-interface thread).
    void DataAvailable(const std::uint8_t* block, int length);
    void TelnetConnected(int error);
    void TelnetClosed(int error);
    void RawPeerSuspected();

    const std::string m_host;
    const std::string m_port;
    const std::shared_ptr<TCaptureFile> m_capture;
    const std::unique_ptr<TTnCnx> m_tnCnx;
    std::atomic<bool> m_connecting{false};
    std::atomic<bool> m_remoteClosed{false};
    // The connect was answered with an error (refused): the session never began.
    std::atomic<bool> m_refused{false};
    std::mutex m_mutex;
    // What ended the line from our side (a handler that failed); guarded by m_mutex.
    QString m_failure;
};

} // namespace telvora
