#pragma once

#include "transfer/send_protocol.h"

#include <optional>
#include <string>
#include <vector>

namespace telvora {

// What the user asked for on the command line:
//   telvora [options] [MOVIE-FILE | telnet://HOST[:PORT]]
// The longest --exit-after: one week, far inside a timer's range.
inline constexpr double kMaxExitAfterSeconds = 7 * 24 * 3600.0;

// A Telnet host to connect to at start.
struct TelnetTarget {
    std::string host;
    std::string port = "23";
    bool operator==(const TelnetTarget&) const = default;
};

// "HOST[:PORT]" or "telnet://HOST[:PORT][/]"; nullopt when it names no host
// or a port out of 1..65535.
std::optional<TelnetTarget> ParseTelnetTarget(const std::string& text);

// A download started as soon as the connection is up.
struct ReceiveRequest {
    bool batch = false; // into a folder (Y-Modem, F-Modem) or one file (X-Modem)
    std::string where;  // the file or the folder
    bool operator==(const ReceiveRequest&) const = default;
};

// An upload started as soon as the connection is up.
struct SendRequest {
    TSendProtocol protocol = TSendProtocol::XModemCrc;
    std::vector<std::string> files; // in the order to send; X-Modem: one
    bool operator==(const SendRequest&) const = default;
};

struct CommandLineOptions {
    // At most one of the three: what is opened at start.
    std::optional<std::string> moviePath;
    std::optional<TelnetTarget> telnet;
    std::optional<std::string> serialDevice;
    std::optional<ReceiveRequest> receive;
    std::optional<SendRequest> send;
    // "Filter TELNET Escape Codes During File Transfers" off (a sender
    // behind a plain TCP relay, which doubles no 255 and adds nothing after CR).
    bool noTelnetFilter = false;
    // "Record Session..." into this file from the start.
    std::optional<std::string> recordPath;
    // "Escape Shows Control Characters" on.
    bool escapeLiteral = false;
    std::optional<int> speed;     // a Speed entry's tag
    std::optional<int> fontDelta; // a Size entry's tag
    bool headless = false;
    bool exitWhenDone = false;
    std::optional<double> exitAfterSeconds;
    bool dumpScreen = false;
    std::optional<std::string> screenshotPath;
    bool help = false;
    bool version = false;
};

struct CommandLineResult {
    CommandLineOptions options;
    // Empty when the arguments were understood; otherwise what was wrong.
    std::string error;
    bool Ok() const { return error.empty(); }
};

// `arguments` without the program name.
CommandLineResult ParseCommandLine(const std::vector<std::string>& arguments);
std::string CommandLineUsage();

} // namespace telvora
