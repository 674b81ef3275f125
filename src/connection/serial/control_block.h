#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <termios.h>

#include "connection/serial/comm_types.h"

// The line settings the serial component keeps and writes into the port's
// termios record on every update.
struct TLineSettings {
    TBaudrate BaudRate = TBaudrate::br9600;
    TParity Parity = TParity::paNone;
    TStopbits Stopbits = TStopbits::sb10;
    TDatabits Databits = TDatabits::da8;
    TCommOptions Options;
    TFlowControl FlowControl = TFlowControl::fcDefault;
    // fcCTS and fcSoftware add their handshake to what the port has; with
    // this they replace it (the user chose one kind of flow control).
    bool ExclusiveFlowControl = false;
    std::uint8_t XonChar = 17;
    std::uint8_t XoffChar = 19;
    std::uint8_t ErrorChar = 0;
    std::uint8_t EofChar = 0;
    std::uint8_t EvtChar = 0;
};

// What the modem output lines need after the record has been written.
enum class TModemLineAction {
    Leave,      // lines stay as they are
    DropDtrRts, // no handshake: DTR and RTS held inactive
    RaiseDtr    // DTR asserted so the peer may send
};

struct TControlBlockResult {
    // 0 when the record could be built, else the errno to report (EINVAL for a
    // speed or a character size the kernel does not have).
    int Error = 0;
    TModemLineAction Lines = TModemLineAction::Leave;
};

// Writes the settings into a record read from the port. The line is always
// binary (no echo, no line editing, no character translation), whatever the
// flow control: an echoing or line-buffering port would corrupt the byte stream.
TControlBlockResult ApplyControlBlock(termios& record, const TLineSettings& settings);

// Speed constant of the termios interface for a TBaudrate, or 0 when Linux has none.
speed_t TermiosSpeed(TBaudrate rate);

// Which of the settings a record read back from the port after they were
// written does not hold ("speed 230400", "7 data bits", "even parity", "2
// stop bits", "RTS/CTS flow control"): a driver takes what it can and drops
// the rest without a word. nullopt when it holds them all.
std::optional<std::string> RefusedSetting(const TLineSettings& settings, const termios& record);
