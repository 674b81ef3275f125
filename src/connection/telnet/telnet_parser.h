#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

// The receive side of the Telnet protocol (RFC 854) without a socket: bytes
// go in; data blocks, replies to the peer and events come out through a sink.
// One parser per connection, used by one thread at a time; only the mode
// switches may be flipped, and the binary states read, from other threads.
//
// While a file transfer runs (raw mode) the parser stays in the path with the
// filter on: negotiation is still answered, commands are still dropped and
// IAC IAC is one 255, so the transfer gets data bytes only. As long as the
// peer's direction is not binary (RFC 856), the NUL it puts after a data CR
// is dropped then too. With the filter off a transfer takes the bytes as they
// come, for hosts that do not speak Telnet at all.
class TTelnetParser {
public:
    class Sink {
    public:
        virtual ~Sink() = default;
        // block[length] is always 0, one past the last data byte.
        virtual void DataAvailable(const std::uint8_t* block, int length) = 0;
        virtual void SendReply(const std::uint8_t* bytes, int length) = 0;
        virtual void EndOfRecord() {}
        // Called just before the location or the terminal type goes out, so
        // the receiver may still change it.
        virtual void SendLocRequested() {}
        virtual void TermTypeRequested() {}
        virtual void LocalEchoChanged() {}
        // Once per connection: a 255 followed by a byte that is no Telnet
        // command, before the peer negotiated anything.
        virtual void RawPeerSuspected() {}
        virtual void Trace(const std::string& number, const std::string& text) {
            static_cast<void>(number);
            static_cast<void>(text);
        }
    };

    static constexpr std::uint8_t kIac = 255;
    static constexpr std::uint8_t kDont = 254;
    static constexpr std::uint8_t kDo = 253;
    static constexpr std::uint8_t kWont = 252;
    static constexpr std::uint8_t kWill = 251;
    static constexpr std::uint8_t kSb = 250;
    static constexpr std::uint8_t kSe = 240;
    static constexpr std::uint8_t kEor = 239;
    static constexpr std::uint8_t kCr = 13;

    static constexpr std::uint8_t kOptBinary = 0;
    static constexpr std::uint8_t kOptEcho = 1;
    static constexpr std::uint8_t kOptSuppressGoAhead = 3;
    static constexpr std::uint8_t kOptSendLocation = 23;
    static constexpr std::uint8_t kOptTermType = 24;
    static constexpr std::uint8_t kOptEndOfRecord = 25;
    static constexpr std::uint8_t kTermTypeSend = 1;
    static constexpr std::uint8_t kTermTypeIs = 0;

    // Data bytes are handed on in blocks of at most this many; a fuller
    // buffer is delivered at once, in the middle of a receive.
    static constexpr int kReceiveBufferSize = 2049;
    // Subnegotiation bytes beyond this are dropped: only the first two are
    // ever looked at, and a peer must not make us collect without end.
    static constexpr std::size_t kMaxSubnegotiation = 1024;

    explicit TTelnetParser(Sink& sink);
    TTelnetParser(const TTelnetParser&) = delete;
    TTelnetParser& operator=(const TTelnetParser&) = delete;

    // Parses the bytes in order; data may be delivered whenever the buffer fills.
    void Feed(const std::uint8_t* bytes, int count);
    // Delivers the data bytes parsed so far, if any.
    void Flush();

    bool RawMode() const { return m_rawMode.load(std::memory_order_relaxed); }
    void SetRawMode(bool on) { m_rawMode.store(on, std::memory_order_relaxed); }
    bool RawFilter() const { return m_rawFilter.load(std::memory_order_relaxed); }
    void SetRawFilter(bool on) { m_rawFilter.store(on, std::memory_order_relaxed); }
    bool LocalEcho() const { return m_localEcho.load(std::memory_order_relaxed); }
    // The peer sends binary (it said WILL TRANSMIT-BINARY and we said DO):
    // its CR is data then, and nothing after it is dropped.
    bool PeerBinary() const { return m_peerBinary.load(std::memory_order_relaxed); }
    // We send binary (the peer said DO TRANSMIT-BINARY and we said WILL):
    // our CR goes out as it is then, not as CR NUL.
    bool OurBinary() const { return m_ourBinary.load(std::memory_order_relaxed); }

    const std::string& Location() const { return m_location; }
    void SetLocation(std::string location) { m_location = std::move(location); }
    const std::string& TermType() const { return m_termType; }
    void SetTermType(std::string termType) { m_termType = std::move(termType); }

    int BufferedCount() const { return m_count; }

private:
    int CopyRun(const std::uint8_t* bytes, int count, bool stopAtIac, bool stopAfterCr);
    void ParseByte(std::uint8_t b);
    void ParseCommand(std::uint8_t b);
    bool DropsNulAfterCr() const { return RawMode() && !PeerBinary(); }
    void HandleOption(std::uint8_t verb, std::uint8_t option);
    void HandleBinary(std::uint8_t verb);
    void HandleEcho(std::uint8_t verb);
    void HandleSubnegotiation();
    void Reply(std::uint8_t verb, std::uint8_t option);
    void SendWithSubnegotiation(std::uint8_t option, const std::string& prefix,
                                const std::string& text);
    void Append(std::uint8_t b);
    void Trace(const std::string& text);

    Sink& m_sink;
    std::atomic<bool> m_rawMode{false};
    std::atomic<bool> m_rawFilter{false};
    std::atomic<bool> m_localEcho{false};
    std::atomic<bool> m_peerBinary{false};
    std::atomic<bool> m_ourBinary{false};
    std::string m_location = "TNCNX";
    std::string m_termType = "VT100";

    // A data CR was just delivered; a NUL right after it may be dropped.
    bool m_crPending = false;
    bool m_negotiated = false;
    bool m_rawPeerTold = false;
    bool m_gotIac = false;
    std::uint8_t m_pendingVerb = 0;
    bool m_inSubneg = false;
    std::string m_subnegBuffer;
    std::uint32_t m_traceCounter = 0;

    // One spare cell for the 0 byte that follows a delivered block.
    std::array<std::uint8_t, kReceiveBufferSize + 1> m_buffer{};
    int m_count = 0;
};
