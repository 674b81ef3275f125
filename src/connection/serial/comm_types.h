#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

// Line settings and event types of the serial port component. The explicit
// values of the flag enumerations are the bit each member sets in a mask.

enum class TBaudrate {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
    br230400
};

enum class TParity { paNone, paOdd, paEven, paMark, paSpace };

enum class TStopbits { sb10, sb15, sb20 };

enum class TDatabits { da4, da5, da6, da7, da8 };

enum class TCommEventType : std::uint32_t {
    evBreak = 64,
    evCts = 8,
    evDsr = 16,
    evError = 128,
    evRing = 256,
    evRlsd = 32,
    evRxChar = 1,
    evRxFlag = 2,
    evTxEmpty = 4
};

enum class TCommOption : std::uint32_t {
    coParityCheck = 2,
    coDsrSensitivity = 64,
    coIgnoreXOff = 128,
    coErrorChar = 1024,
    coNullStrip = 2048
};

enum class TFlowControl { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };

// A set of flag-enumeration members, kept as the mask of their bits.
template <typename Flag> class TFlagSet {
public:
    constexpr TFlagSet() = default;
    constexpr TFlagSet(std::initializer_list<Flag> flags) {
        for (Flag f : flags) {
            m_bits |= static_cast<std::uint32_t>(f);
        }
    }
    static constexpr TFlagSet FromMask(std::uint32_t mask) {
        TFlagSet set;
        set.m_bits = mask;
        return set;
    }
    constexpr bool Contains(Flag f) const { return (m_bits & static_cast<std::uint32_t>(f)) != 0; }
    constexpr std::uint32_t Mask() const { return m_bits; }
    constexpr bool Empty() const { return m_bits == 0; }
    constexpr bool operator==(const TFlagSet&) const = default;

private:
    std::uint32_t m_bits = 0;
};

using TCommEventTypes = TFlagSet<TCommEventType>;
using TCommOptions = TFlagSet<TCommOption>;

inline constexpr TCommEventTypes kAllCommEvents{
    TCommEventType::evBreak,  TCommEventType::evCts,    TCommEventType::evDsr,
    TCommEventType::evError,  TCommEventType::evRing,   TCommEventType::evRlsd,
    TCommEventType::evRxChar, TCommEventType::evRxFlag, TCommEventType::evTxEmpty};

// Line-error flags handed to OnError, one bit per kind of receive error.
inline constexpr std::uint32_t kLineErrorRxOver = 0x01;  // input buffer overflowed
inline constexpr std::uint32_t kLineErrorOverrun = 0x02; // the UART lost a character
inline constexpr std::uint32_t kLineErrorParity = 0x04;
inline constexpr std::uint32_t kLineErrorFrame = 0x08;
inline constexpr std::uint32_t kLineErrorBreak = 0x10;

// Bits per second of a TBaudrate member.
int BaudRateValue(TBaudrate rate);

// Number of data bits of a TDatabits member.
int DatabitsValue(TDatabits bits);

// The file to open for a device name: a name holding a '/' is used as given,
// a bare name ("ttyUSB0") is looked up in /dev.
std::string CommDevicePath(const std::string& deviceName);
