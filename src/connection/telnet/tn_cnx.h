#pragma once

#include "connection/telnet/telnet_parser.h"
#include "connection/telnet/wsocket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// A Telnet client connection: one TCP socket, the Telnet protocol stripped
// from what it receives (options answered by a fixed table), and the data
// handed on in blocks. Its events run on the thread that created it; Connect
// and the sends may be called from other threads.
class TTnCnx : private TTelnetParser::Sink {
public:
    using SessionEvent = std::function<void(TTnCnx& sender, int error)>;
    using DataEvent = std::function<void(TTnCnx& sender, const std::uint8_t* block, int length)>;
    using TextEvent = std::function<void(TTnCnx& sender, const std::string& text)>;
    using NotifyEvent = std::function<void(TTnCnx& sender)>;

    // At most this many bytes are taken from the socket per receive.
    static constexpr int kReceiveSize = 2048;

    TTnCnx();
    ~TTnCnx() override;
    TTnCnx(const TTnCnx&) = delete;
    TTnCnx& operator=(const TTnCnx&) = delete;

    const std::string& Port() const { return m_port; }
    void SetPort(std::string port) { m_port = std::move(port); }
    const std::string& Host() const { return m_host; }
    void SetHost(std::string host) { m_host = std::move(host); }
    const std::string& Location() const { return m_parser.Location(); }
    void SetLocation(std::string location) { m_parser.SetLocation(std::move(location)); }
    const std::string& TermType() const { return m_parser.TermType(); }
    void SetTermType(std::string termType) { m_parser.SetTermType(std::move(termType)); }
    bool LocalEcho() const { return m_parser.LocalEcho(); }
    bool RawMode() const { return m_parser.RawMode(); }
    void SetRawMode(bool on) { m_parser.SetRawMode(on); }
    bool RawFilter() const { return m_parser.RawFilter(); }
    void SetRawFilter(bool on) { m_parser.SetRawFilter(on); }
    // Raw TCP instead of Telnet: what arrives is data as it is, what is sent
    // goes as it is, and nothing is ever sent on the component's own. Set
    // before Connect.
    bool RawTcp() const { return m_rawTcp; }
    void SetRawTcp(bool on) { m_rawTcp = on; }
    bool PeerBinary() const { return m_parser.PeerBinary(); }
    bool OurBinary() const { return m_parser.OurBinary(); }

    TWSocket& Socket() { return *m_socket; }
    // Any thread. While paused nothing is read from the socket, so the peer
    // is held back instead of overrunning the reader.
    void SetReceivePaused(bool paused) { m_socket->SetReceivePaused(paused); }
    bool ReceivePaused() const { return m_socket->ReceivePaused(); }

    // Opens the connection to Host and Port (closing a previous one first).
    // Resolution and socket errors raise ESocketException.
    void Connect();
    bool IsConnected() const;
    // The bytes as they are (keystrokes: a 255 goes out alone).
    int Send(const std::uint8_t* bytes, int count);
    int SendStr(const std::string& text);
    // Every 255 doubled, as Telnet data must be.
    int SendDoubled(const std::uint8_t* bytes, int count);
    // Data: over Raw TCP as it is; over Telnet every 255 doubled and, while
    // our direction is not binary, every CR as CR NUL (keys and transfers).
    int SendData(const std::uint8_t* bytes, int count);

    void SetOnSessionConnected(SessionEvent handler) { m_onSessionConnected = std::move(handler); }
    void SetOnSessionClosed(SessionEvent handler) { m_onSessionClosed = std::move(handler); }
    void SetOnDataAvailable(DataEvent handler) { m_onDataAvailable = std::move(handler); }
    void SetOnDisplay(TextEvent handler) { m_onDisplay = std::move(handler); }
    void SetOnEndOfRecord(NotifyEvent handler) { m_onEndOfRecord = std::move(handler); }
    void SetOnSendLoc(NotifyEvent handler) { m_onSendLoc = std::move(handler); }
    void SetOnTermType(NotifyEvent handler) { m_onTermType = std::move(handler); }
    void SetOnLocalEcho(NotifyEvent handler) { m_onLocalEcho = std::move(handler); }
    // Once per connection, on the receiving thread: the peer looks like one
    // that does not speak Telnet.
    void SetOnRawPeer(NotifyEvent handler) { m_onRawPeer = std::move(handler); }

private:
    void ReceiveStep();
    void Display(const std::string& text);
    static void Notify(const NotifyEvent& event, TTnCnx& sender);

    // TTelnetParser::Sink
    void DataAvailable(const std::uint8_t* block, int length) override;
    void SendReply(const std::uint8_t* bytes, int length) override;
    void EndOfRecord() override;
    void SendLocRequested() override;
    void TermTypeRequested() override;
    void LocalEchoChanged() override;
    void RawPeerSuspected() override;
    void Trace(const std::string& number, const std::string& text) override;

    std::string m_port = "23";
    std::string m_host;
    TTelnetParser m_parser{*this};
    std::unique_ptr<TWSocket> m_socket;

    SessionEvent m_onSessionConnected;
    SessionEvent m_onSessionClosed;
    DataEvent m_onDataAvailable;
    TextEvent m_onDisplay;
    NotifyEvent m_onEndOfRecord;
    NotifyEvent m_onSendLoc;
    NotifyEvent m_onTermType;
    NotifyEvent m_onLocalEcho;
    NotifyEvent m_onRawPeer;
    bool m_rawTcp = false;
};
