#include "transfer/zmodem/zmodem_decoder.h"

#include "transfer/zmodem/zmodem_crc.h"

namespace telvora {

using namespace zmodem;

namespace {

bool IsFlowControl(std::uint8_t byte) {
    return (byte & 0x7F) == kXon || (byte & 0x7F) == kXoff;
}

bool CarriesData(std::uint8_t type) {
    return type == kFile || type == kData || type == kSInit || type == kCommand || type == kStdErr;
}

int HexValue(std::uint8_t byte) {
    byte &= 0x7F; // a line that sets parity still gives the digits
    if (byte >= '0' && byte <= '9') {
        return byte - '0';
    }
    if (byte >= 'a' && byte <= 'f') {
        return byte - 'a' + 10;
    }
    if (byte >= 'A' && byte <= 'F') {
        return byte - 'A' + 10;
    }
    return -1;
}

std::size_t CrcLength(THeaderEncoding encoding) {
    return encoding == THeaderEncoding::Bin32 ? 4 : 2;
}

} // namespace

void TZmodemDecoder::HuntHeader() {
    m_state = State::Hunt;
    m_escaped = false;
}

void TZmodemDecoder::Reset() {
    HuntHeader();
    m_cans = 0;
    m_data.clear();
}

TZmodemEvent TZmodemDecoder::Feed(std::uint8_t byte) {
    if (m_clearData) {
        m_data.clear();
        m_clearData = false;
    }
    if (byte == kCan) {
        if (++m_cans >= kCancelRun) {
            m_cans = 0;
            HuntHeader();
            return {TZmodemEvent::Kind::Cancel};
        }
    } else {
        m_cans = 0;
    }
    if (m_state != State::Hunt && IsFlowControl(byte)) {
        return {};
    }
    switch (m_state) {
    case State::Hunt:
    case State::Pad:
    case State::PadDle:
        return Hunting(byte);
    case State::HexHeader:
        return HexDigit(byte);
    case State::HexLineEnd:
        return HexLineEnd(byte);
    case State::BinaryHeader:
        return BinaryByte(byte);
    case State::Data:
        return DataByte(byte);
    case State::DataCrc:
        return CrcByte(byte);
    }
    return {};
}

std::size_t TZmodemDecoder::FeedDataRun(const std::uint8_t* data, std::size_t count) {
    if (m_state != State::Data || m_escaped || m_clearData) {
        return 0;
    }
    const std::size_t room = kMaxSubpacket - m_data.size();
    const std::size_t limit = count < room ? count : room;
    std::size_t run = 0;
    while (run < limit && data[run] != kDle && !IsFlowControl(data[run])) {
        ++run;
    }
    if (run > 0) {
        // A plain byte is no CAN: the run of CANs is broken.
        m_cans = 0;
        m_data.insert(m_data.end(), data, data + run);
    }
    return run;
}

TZmodemEvent TZmodemDecoder::Hunting(std::uint8_t byte) {
    if (m_state == State::PadDle) {
        m_headerCount = 0;
        m_hexDigits = 0;
        m_escaped = false;
        switch (byte) {
        case kHex:
            m_encoding = THeaderEncoding::Hex;
            m_state = State::HexHeader;
            return {};
        case kBin16:
            m_encoding = THeaderEncoding::Bin16;
            m_state = State::BinaryHeader;
            return {};
        case kBin32:
            m_encoding = THeaderEncoding::Bin32;
            m_state = State::BinaryHeader;
            return {};
        default:
            break;
        }
    }
    if ((byte & 0x7F) == kPad) {
        m_state = State::Pad;
    } else if (byte == kDle && m_state == State::Pad) {
        m_state = State::PadDle;
    } else if (!(m_state == State::Pad && IsFlowControl(byte))) {
        m_state = State::Hunt;
    }
    return {};
}

TZmodemEvent TZmodemDecoder::HexDigit(std::uint8_t byte) {
    const int value = HexValue(byte);
    if (value < 0) {
        return Bad(TZmodemEvent::Kind::BadHeader);
    }
    if (m_hexDigits % 2 == 0) {
        m_header[m_headerCount] = static_cast<std::uint8_t>(value << 4);
    } else {
        m_header[m_headerCount++] |= static_cast<std::uint8_t>(value);
    }
    ++m_hexDigits;
    return m_headerCount == 7 ? HeaderComplete() : TZmodemEvent{};
}

TZmodemEvent TZmodemDecoder::HexLineEnd(std::uint8_t byte) {
    // A CR, an LF or both, either with its high bit set, as lrzsz sends and expects them.
    const std::uint8_t plain = byte & 0x7F;
    if (plain == '\r' && !m_hexCr) {
        m_hexCr = true;
        return {};
    }
    m_state = State::Data;
    return plain == '\n' ? TZmodemEvent{} : DataByte(byte);
}

TZmodemDecoder::Escaped TZmodemDecoder::Unescape(std::uint8_t& byte) {
    switch (byte) {
    case static_cast<std::uint8_t>(TSubpacketEnd::CrcE):
    case static_cast<std::uint8_t>(TSubpacketEnd::CrcG):
    case static_cast<std::uint8_t>(TSubpacketEnd::CrcQ):
    case static_cast<std::uint8_t>(TSubpacketEnd::CrcW):
        return Escaped::FrameEnd;
    case kRub0:
        byte = 0x7F;
        return Escaped::Byte;
    case kRub1:
        byte = 0xFF;
        return Escaped::Byte;
    default:
        if ((byte & 0x60) != 0x40) {
            return Escaped::Invalid;
        }
        byte ^= 0x40;
        return Escaped::Byte;
    }
}

TZmodemEvent TZmodemDecoder::BinaryByte(std::uint8_t byte) {
    if (!m_escaped && byte == kDle) {
        m_escaped = true;
        return {};
    }
    if (m_escaped) {
        m_escaped = false;
        if (Unescape(byte) != Escaped::Byte) {
            return Bad(TZmodemEvent::Kind::BadHeader);
        }
    }
    m_header[m_headerCount++] = byte;
    return m_headerCount == 5 + CrcLength(m_encoding) ? HeaderComplete() : TZmodemEvent{};
}

TZmodemEvent TZmodemDecoder::HeaderComplete() {
    bool good = false;
    if (m_encoding == THeaderEncoding::Bin32) {
        const std::uint32_t received = static_cast<std::uint32_t>(m_header[5]) |
                                       static_cast<std::uint32_t>(m_header[6]) << 8 |
                                       static_cast<std::uint32_t>(m_header[7]) << 16 |
                                       static_cast<std::uint32_t>(m_header[8]) << 24;
        good = Crc32(m_header, 5) == received;
    } else {
        good = Crc16(m_header, 7) == 0;
    }
    if (!good) {
        return Bad(TZmodemEvent::Kind::BadHeader);
    }
    TZmodemEvent event{TZmodemEvent::Kind::Header};
    event.type = static_cast<TFrameType>(m_header[0]);
    event.bytes = {m_header[1], m_header[2], m_header[3], m_header[4]};
    event.encoding = m_encoding;
    if (CarriesData(m_header[0])) {
        m_dataCrc32 = m_encoding == THeaderEncoding::Bin32;
        m_data.clear();
        m_hexCr = false;
        m_state = m_encoding == THeaderEncoding::Hex ? State::HexLineEnd : State::Data;
    } else {
        m_state = State::Hunt;
    }
    m_escaped = false;
    return event;
}

TZmodemEvent TZmodemDecoder::DataByte(std::uint8_t byte) {
    if (!m_escaped && byte == kDle) {
        m_escaped = true;
        return {};
    }
    if (m_escaped) {
        m_escaped = false;
        switch (Unescape(byte)) {
        case Escaped::Invalid:
            return Bad(TZmodemEvent::Kind::BadSubpacket);
        case Escaped::FrameEnd:
            m_end = static_cast<TSubpacketEnd>(byte);
            m_crcCount = 0;
            m_state = State::DataCrc;
            return {};
        case Escaped::Byte:
            break;
        }
    }
    if (m_data.size() == kMaxSubpacket) {
        return Bad(TZmodemEvent::Kind::BadSubpacket);
    }
    m_data.push_back(byte);
    return {};
}

TZmodemEvent TZmodemDecoder::CrcByte(std::uint8_t byte) {
    if (!m_escaped && byte == kDle) {
        m_escaped = true;
        return {};
    }
    if (m_escaped) {
        m_escaped = false;
        if (Unescape(byte) != Escaped::Byte) {
            return Bad(TZmodemEvent::Kind::BadSubpacket);
        }
    }
    m_crc[m_crcCount++] = byte;
    return m_crcCount == (m_dataCrc32 ? 4u : 2u) ? SubpacketComplete() : TZmodemEvent{};
}

TZmodemEvent TZmodemDecoder::SubpacketComplete() {
    const auto endByte = static_cast<std::uint8_t>(m_end);
    bool good = false;
    if (m_dataCrc32) {
        std::uint32_t crc = Crc32Run(kCrc32Start, m_data.data(), m_data.size());
        crc = ~Crc32Update(crc, endByte);
        good = crc ==
               (static_cast<std::uint32_t>(m_crc[0]) | static_cast<std::uint32_t>(m_crc[1]) << 8 |
                static_cast<std::uint32_t>(m_crc[2]) << 16 |
                static_cast<std::uint32_t>(m_crc[3]) << 24);
    } else {
        std::uint16_t crc = 0;
        for (std::uint8_t byte : m_data) {
            crc = Crc16Update(crc, byte);
        }
        crc = Crc16Update(crc, endByte);
        good = crc == (m_crc[0] << 8 | m_crc[1]);
    }
    if (!good) {
        return Bad(TZmodemEvent::Kind::BadSubpacket);
    }
    TZmodemEvent event{TZmodemEvent::Kind::Subpacket};
    event.end = m_end;
    event.encoding = m_dataCrc32 ? THeaderEncoding::Bin32 : THeaderEncoding::Bin16;
    const bool frameGoesOn = m_end == TSubpacketEnd::CrcG || m_end == TSubpacketEnd::CrcQ;
    m_state = frameGoesOn ? State::Data : State::Hunt;
    m_clearData = true;
    return event;
}

TZmodemEvent TZmodemDecoder::Bad(TZmodemEvent::Kind kind) {
    HuntHeader();
    m_clearData = true;
    return {kind};
}

} // namespace telvora
