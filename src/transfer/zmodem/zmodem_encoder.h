#pragma once

#include "transfer/zmodem/zmodem_codes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvora {

// Puts ZMODEM headers and data subpackets on the line, appending to a buffer.
//
// ZDLE-escaped always: ZDLE itself, DLE, XON and XOFF and their high-bit
// forms (modems and Telnet servers act on them), and a CR after '@' (the
// "@\r" of some modem command sets); with EscapeControls, every control
// character, which some lines do not pass. The '@' rule needs the last byte
// sent, so one encoder serves one direction of one line.
class TZmodemEncoder {
public:
    void SetEscapeControls(bool on) { m_escapeControls = on; }
    bool EscapeControls() const { return m_escapeControls; }

    // A header in hex digits (ZHEX), for the receiver's answers and the
    // sender's ZRQINIT and ZFIN: 7-bit clean, ended with CR LF and, unless
    // it is a ZACK or ZFIN, an XON.
    void HexHeader(std::vector<std::uint8_t>& out, zmodem::TFrameType type,
                   const zmodem::THeaderBytes& bytes);
    // A binary header with a CRC-16 (ZBIN) or a CRC-32 (ZBIN32).
    void BinaryHeader(std::vector<std::uint8_t>& out, zmodem::TFrameType type,
                      const zmodem::THeaderBytes& bytes, bool crc32);
    // A data subpacket; a ZCRCW one is followed by an XON.
    void Subpacket(std::vector<std::uint8_t>& out, const std::uint8_t* data, std::size_t count,
                   zmodem::TSubpacketEnd end, bool crc32);

    // Whether a byte goes out behind a ZDLE, given the byte sent before it.
    static bool NeedsEscape(std::uint8_t byte, std::uint8_t previous, bool escapeControls);

private:
    void Put(std::vector<std::uint8_t>& out, std::uint8_t byte);
    void PutRaw(std::vector<std::uint8_t>& out, std::uint8_t byte);

    bool m_escapeControls = false;
    std::uint8_t m_lastSent = 0;
};

} // namespace telvora
