#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace telvora {

// The bytes and numbers of ZMODEM as both sides of a transfer put them on the line.
namespace zmodem {

constexpr std::uint8_t kPad = '*';
// ZDLE is the CAN byte: five of them in a row are the cancel sequence.
constexpr std::uint8_t kDle = 0x18;
constexpr std::uint8_t kCan = 0x18;
constexpr std::uint8_t kBackspace = 0x08;
// Our cancel: eight CANs, and backspaces that rub them out on a terminal.
inline const std::vector<std::uint8_t> kCancelSequence = [] {
    std::vector<std::uint8_t> bytes(8, kCan);
    bytes.insert(bytes.end(), 10, kBackspace);
    return bytes;
}();
constexpr std::uint8_t kXon = 0x11;
constexpr std::uint8_t kXoff = 0x13;
constexpr std::uint8_t kBin16 = 'A';
constexpr std::uint8_t kHex = 'B';
constexpr std::uint8_t kBin32 = 'C';
// What follows a ZDLE for 0x7F and 0xFF, which some lines eat.
constexpr std::uint8_t kRub0 = 'l';
constexpr std::uint8_t kRub1 = 'm';

// How a data subpacket ends, and so what the sender expects back.
enum class TSubpacketEnd : std::uint8_t {
    CrcE = 'h', // end of frame, no answer
    CrcG = 'i', // more follow, no answer
    CrcQ = 'j', // more follow, answer ZACK
    CrcW = 'k', // end of frame, answer ZACK
};

enum TFrameType : std::uint8_t {
    kRqInit = 0,
    kRInit = 1,
    kSInit = 2,
    kAck = 3,
    kFile = 4,
    kSkip = 5,
    kNak = 6,
    kAbort = 7,
    kFin = 8,
    kRPos = 9,
    kData = 10,
    kEof = 11,
    kFErr = 12,
    kCrc = 13,
    kChallenge = 14,
    kCompl = 15,
    kCancel = 16,
    kFreeCnt = 17,
    kCommand = 18,
    kStdErr = 19,
};

// The four header bytes: flags are numbered from the last, positions from the first.
using THeaderBytes = std::array<std::uint8_t, 4>;
constexpr std::size_t kF0 = 3;
constexpr std::size_t kF1 = 2;

// ZRINIT's capabilities (ZF0).
constexpr std::uint8_t kCanFullDuplex = 0x01;
constexpr std::uint8_t kCanOverlapIo = 0x02;
constexpr std::uint8_t kCanCrc32 = 0x20;
constexpr std::uint8_t kEscapeControls = 0x40;
// ZSINIT's flag (ZF0): the sender asks us to escape every control character.
constexpr std::uint8_t kSenderEscapesControls = 0x40;
// ZFILE's conversion (ZF0): binary, or resume what the receiver has.
constexpr std::uint8_t kConvertBinary = 1;

// Where a ZRPOS, ZDATA, ZEOF or ZACK puts the file.
constexpr THeaderBytes PositionHeader(std::uint32_t position) {
    return {static_cast<std::uint8_t>(position), static_cast<std::uint8_t>(position >> 8),
            static_cast<std::uint8_t>(position >> 16), static_cast<std::uint8_t>(position >> 24)};
}

constexpr std::uint32_t HeaderPosition(const THeaderBytes& bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

} // namespace zmodem

} // namespace telvora
