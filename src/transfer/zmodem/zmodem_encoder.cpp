#include "transfer/zmodem/zmodem_encoder.h"

#include "transfer/zmodem/zmodem_crc.h"

namespace telvora {

using namespace zmodem;

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void PutHex(std::vector<std::uint8_t>& out, std::uint8_t byte) {
    out.push_back(static_cast<std::uint8_t>(kHexDigits[byte >> 4]));
    out.push_back(static_cast<std::uint8_t>(kHexDigits[byte & 0x0F]));
}

} // namespace

bool TZmodemEncoder::NeedsEscape(std::uint8_t byte, std::uint8_t previous, bool escapeControls) {
    switch (byte) {
    case kDle:
    case 0x10:
    case 0x90:
    case kXon:
    case kXon | 0x80:
    case kXoff:
    case kXoff | 0x80:
        return true;
    case '\r':
    case '\r' | 0x80:
        return escapeControls || (previous & 0x7F) == '@';
    default:
        return escapeControls && (byte & 0x60) == 0;
    }
}

void TZmodemEncoder::PutRaw(std::vector<std::uint8_t>& out, std::uint8_t byte) {
    out.push_back(byte);
    m_lastSent = byte;
}

void TZmodemEncoder::Put(std::vector<std::uint8_t>& out, std::uint8_t byte) {
    if (!NeedsEscape(byte, m_lastSent, m_escapeControls)) {
        PutRaw(out, byte);
        return;
    }
    PutRaw(out, kDle);
    PutRaw(out, static_cast<std::uint8_t>(byte ^ 0x40));
}

void TZmodemEncoder::HexHeader(std::vector<std::uint8_t>& out, TFrameType type,
                               const THeaderBytes& bytes) {
    out.insert(out.end(), {kPad, kPad, kDle, kHex});
    std::uint16_t crc = Crc16Update(0, type);
    PutHex(out, type);
    for (std::uint8_t byte : bytes) {
        crc = Crc16Update(crc, byte);
        PutHex(out, byte);
    }
    PutHex(out, static_cast<std::uint8_t>(crc >> 8));
    PutHex(out, static_cast<std::uint8_t>(crc));
    // The LF with its high bit set, as lrzsz sends it: a line that strips
    // parity still shows a line end.
    out.push_back('\r');
    out.push_back(0x8A);
    if (type != kFin && type != kAck) {
        out.push_back(kXon);
    }
    m_lastSent = out.back();
}

void TZmodemEncoder::BinaryHeader(std::vector<std::uint8_t>& out, TFrameType type,
                                  const THeaderBytes& bytes, bool crc32) {
    PutRaw(out, kPad);
    PutRaw(out, kDle);
    PutRaw(out, crc32 ? kBin32 : kBin16);
    Put(out, type);
    for (std::uint8_t byte : bytes) {
        Put(out, byte);
    }
    if (crc32) {
        std::uint32_t crc = Crc32Update(kCrc32Start, type);
        for (std::uint8_t byte : bytes) {
            crc = Crc32Update(crc, byte);
        }
        crc = ~crc;
        for (int i = 0; i < 4; ++i) {
            Put(out, static_cast<std::uint8_t>(crc >> (8 * i)));
        }
        return;
    }
    std::uint16_t crc = Crc16Update(0, type);
    for (std::uint8_t byte : bytes) {
        crc = Crc16Update(crc, byte);
    }
    Put(out, static_cast<std::uint8_t>(crc >> 8));
    Put(out, static_cast<std::uint8_t>(crc));
}

void TZmodemEncoder::Subpacket(std::vector<std::uint8_t>& out, const std::uint8_t* data,
                               std::size_t count, TSubpacketEnd end, bool crc32) {
    out.reserve(out.size() + count + count / 8 + 16);
    for (std::size_t i = 0; i < count; ++i) {
        Put(out, data[i]);
    }
    const auto endByte = static_cast<std::uint8_t>(end);
    PutRaw(out, kDle);
    PutRaw(out, endByte);
    if (crc32) {
        std::uint32_t crc = ~Crc32Update(Crc32Run(kCrc32Start, data, count), endByte);
        for (int i = 0; i < 4; ++i) {
            Put(out, static_cast<std::uint8_t>(crc >> (8 * i)));
        }
    } else {
        std::uint16_t crc = 0;
        for (std::size_t i = 0; i < count; ++i) {
            crc = Crc16Update(crc, data[i]);
        }
        crc = Crc16Update(crc, endByte);
        Put(out, static_cast<std::uint8_t>(crc >> 8));
        Put(out, static_cast<std::uint8_t>(crc));
    }
    if (end == TSubpacketEnd::CrcW) {
        PutRaw(out, kXon);
    }
}

} // namespace telvora
