#pragma once

#include "transfer/zmodem/zmodem_codes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvora {

// How a header came: in hex digits, or binary with a CRC-16 or a CRC-32.
// A binary header's encoding is also that of the subpackets behind it.
enum class THeaderEncoding : std::uint8_t { Hex, Bin16, Bin32 };

// One thing the decoder has recognised on the line.
struct TZmodemEvent {
    enum class Kind : std::uint8_t {
        None,         // nothing complete yet
        Header,       // type, bytes and encoding are set
        Subpacket,    // end is set; the data is the decoder's Data()
        BadHeader,    // a header whose CRC or digits were wrong
        BadSubpacket, // a subpacket with a wrong CRC, a broken escape or too long
        Cancel,       // five CANs in a row: the other side gives up
    };
    Kind kind = Kind::None;
    zmodem::TFrameType type = zmodem::kRqInit;
    zmodem::THeaderBytes bytes{};
    THeaderEncoding encoding = THeaderEncoding::Hex;
    zmodem::TSubpacketEnd end = zmodem::TSubpacketEnd::CrcE;
};

// Reads ZMODEM headers and data subpackets from the line a byte at a time,
// across any split into chunks. Whatever arrives, it never holds more than
// kMaxSubpacket data bytes: a longer subpacket is reported bad.
//
// Between frames everything that is not a header is skipped (the other
// side's text, CR LF XON after hex headers, line noise). Raw XON and XOFF
// are dropped everywhere, since a sender always escapes its own. After a
// header that carries data (ZFILE, ZDATA, ZSINIT, ZCOMMAND) subpackets are
// read until one ends the frame (ZCRCE, ZCRCW) or one is bad; the owner can
// stop that early with HuntHeader(). The CR LF that ends a hex header is no
// part of the data behind it (lrzsz's sz -e sends its ZSINIT in hex).
class TZmodemDecoder {
public:
    // lrzsz's largest subpacket; a longer one is line noise.
    static constexpr std::size_t kMaxSubpacket = 8192;
    static constexpr int kCancelRun = 5;

    TZmodemEvent Feed(std::uint8_t byte);
    // Inside a subpacket: takes the longest run of plain data bytes at the
    // start of the bytes (no ZDLE, no flow control, within the subpacket's
    // largest size), exactly as Feed would one by one, where none of them
    // would give an event; returns how many it took (0: use Feed).
    std::size_t FeedDataRun(const std::uint8_t* data, std::size_t count);
    // The data of the subpacket just reported; valid until the next Feed.
    const std::vector<std::uint8_t>& Data() const { return m_data; }
    // Drops the rest of a frame: only a header is looked for.
    void HuntHeader();
    // Looking for a header with nothing of one seen yet: bytes before the
    // next pad ('*') can change nothing but a run of CANs.
    bool Idle() const { return m_state == State::Hunt; }
    void Reset();

private:
    enum class State : std::uint8_t {
        Hunt,
        Pad,
        PadDle,
        HexHeader,
        HexLineEnd,
        BinaryHeader,
        Data,
        DataCrc
    };
    // What an escaped byte stands for.
    enum class Escaped : std::uint8_t { Byte, FrameEnd, Invalid };

    TZmodemEvent Hunting(std::uint8_t byte);
    TZmodemEvent HexDigit(std::uint8_t byte);
    TZmodemEvent HexLineEnd(std::uint8_t byte);
    TZmodemEvent BinaryByte(std::uint8_t byte);
    TZmodemEvent DataByte(std::uint8_t byte);
    TZmodemEvent CrcByte(std::uint8_t byte);
    TZmodemEvent HeaderComplete();
    TZmodemEvent SubpacketComplete();
    TZmodemEvent Bad(TZmodemEvent::Kind kind);
    // Undoes a ZDLE escape, leaving the byte in `byte`.
    static Escaped Unescape(std::uint8_t& byte);

    State m_state = State::Hunt;
    int m_cans = 0;
    bool m_escaped = false;
    bool m_clearData = false;
    THeaderEncoding m_encoding = THeaderEncoding::Hex;
    // A header's type, bytes and CRC as they arrive (hex digits already paired).
    std::uint8_t m_header[9]{};
    std::size_t m_headerCount = 0;
    std::size_t m_hexDigits = 0;
    bool m_hexCr = false;
    bool m_dataCrc32 = false;
    zmodem::TSubpacketEnd m_end = zmodem::TSubpacketEnd::CrcE;
    std::uint8_t m_crc[4]{};
    std::size_t m_crcCount = 0;
    std::vector<std::uint8_t> m_data;
};

} // namespace telvora
