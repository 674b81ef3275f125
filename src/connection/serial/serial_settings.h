#pragma once

#include "connection/serial/control_block.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace telvora {

enum class TSerialFlow { None, RtsCts, XonXoff };

// The line settings a user chooses for a serial port: what the port
// chooser's "Serial Settings...", the command line and a serial or modem
// entry of the host directory hold. Without a choice: 19200 8N1, no flow
// control.
struct TSerialSettings {
    static constexpr std::array<int, 11> kSpeeds = {300,   600,   1200,  2400,   4800,  9600,
                                                    19200, 38400, 57600, 115200, 230400};
    static constexpr int kDefaultSpeed = 19200;

    int Speed = kDefaultSpeed;
    int DataBits = 8;                 // 7 or 8
    TParity Parity = TParity::paNone; // none, even or odd
    int StopBits = 1;                 // 1 or 2
    TSerialFlow Flow = TSerialFlow::None;

    bool operator==(const TSerialSettings&) const = default;

    // "8N1", "7E1", "8O2".
    std::string FormatText() const;
    // As the status line shows it: "9600 8N1".
    std::string Text() const;
    // As stored and read back: "9600 8N1 none".
    std::string StoredText() const;
    // The port component's settings.
    TLineSettings LineSettings() const;
};

// One of kSpeeds, written in decimal.
std::optional<int> ParseSerialSpeed(std::string_view text);
// "8N1" and the like: data bits 7 or 8, parity N, E or O (any case), stop
// bits 1 or 2. Sets those three of settings; false, changing nothing, for
// anything else.
bool ParseSerialFormat(std::string_view text, TSerialSettings& settings);
// "none", "rtscts" or "xonxoff" (any case).
std::optional<TSerialFlow> ParseSerialFlow(std::string_view text);
std::string_view SerialFlowName(TSerialFlow flow);
// The StoredText form; nullopt when any part is missing or not valid.
std::optional<TSerialSettings> ParseStoredSerialSettings(std::string_view text);

} // namespace telvora
