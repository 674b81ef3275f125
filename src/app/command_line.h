#pragma once

#include "connection/serial/hayes_dialer.h"
#include "connection/serial/serial_settings.h"
#include "transfer/send_protocol.h"

#include <optional>
#include <string>
#include <vector>

namespace telvora {

// What the user asked for on the command line:
//   telvora [options] [MOVIE-FILE | telnet://HOST[:PORT] | raw://HOST[:PORT]]
// The longest --exit-after: one week, far inside a timer's range.
inline constexpr double kMaxExitAfterSeconds = 7 * 24 * 3600.0;

// A host to connect to at start, by Telnet or by raw TCP.
struct TelnetTarget {
    std::string host; // an IPv6 address without its brackets
    std::string port = "23";
    // Raw TCP: no Telnet negotiation, every byte passed as it is.
    bool raw = false;
    // From telnet://USER@HOST: who the default login steps log in.
    std::string user{};
    bool operator==(const TelnetTarget&) const = default;
};

// "HOST[:PORT]" or "telnet://[USER@]HOST[:PORT][/]", the scheme in any letter case. HOST is a name,
// a dotted IPv4 address, an IPv6 address in brackets ("[::1]", "[::1]:2323") or an IPv6 address
// alone ("::1"), which is taken whole as the host: its last group could as well be a port, so a
// port is only read after brackets. nullopt when it names no host, a port out of 1..65535 or a
// malformed address; *problem then says what is wrong, in a few words.
std::optional<TelnetTarget> ParseTelnetTarget(const std::string& text,
                                              std::string* problem = nullptr);
// The same forms for raw TCP, with "raw://" instead of "telnet://"; raw is set.
std::optional<TelnetTarget> ParseRawTarget(const std::string& text, std::string* problem = nullptr);

// A download started as soon as the connection is up.
struct ReceiveRequest {
    bool batch = false; // into a folder (Y-Modem, F-Modem, ZMODEM) or one file (X-Modem)
    std::string where;  // the file or the folder
    bool zmodem = false;
    // Y-Modem-G: the sender streams without waiting for ACKs; any error cancels.
    bool streaming = false;
    bool operator==(const ReceiveRequest&) const = default;
};

// An upload started as soon as the connection is up.
struct SendRequest {
    TSendProtocol protocol = TSendProtocol::XModemCrc;
    std::vector<std::string> files; // in the order to send; X-Modem: one
    bool operator==(const SendRequest&) const = default;
};

struct TypingPace {
    int characterMs = 20;
    int lineEndMs = 200;
    bool operator==(const TypingPace&) const = default;
};
// The longest wait --typing-pace takes.
inline constexpr int kMaxTypingPaceMs = 10000;

struct CommandLineOptions {
    // At most one of the three: what is opened at start.
    std::optional<std::string> moviePath;
    std::optional<TelnetTarget> telnet; // Telnet, or raw TCP when telnet->raw
    std::optional<std::string> serialDevice;
    // A host directory entry called by its name, as it is kept.
    std::optional<std::string> entryName;
    // Print the host directory and leave.
    bool listEntries = false;
    // Take the boards of a BBS list (INI) or CSV file into the directory.
    std::optional<std::string> importPath;
    // The serial line's settings (--baud, --format, --flow); unset parts as
    // the window last had them, or the defaults.
    std::optional<int> baud;
    std::optional<std::string> format; // "8N1" and the like, checked
    std::optional<TSerialFlow> flow;
    // A modem's call through the serial line (--dial, --init, --redial).
    std::optional<TModemSettings> dial;
    std::optional<ReceiveRequest> receive;
    std::optional<SendRequest> send;
    // Where a ZMODEM send the board begins goes (auto-start).
    std::optional<std::string> downloadFolder;
    // A ZMODEM download resumes files that are already there (crash
    // recovery) instead of receiving them under new names.
    bool resume = false;
    // "Filter TELNET Escape Codes During File Transfers" off (a sender
    // behind a plain TCP relay, which doubles no 255 and adds nothing after CR).
    bool noTelnetFilter = false;
    // "Record Session..." into this file from the start.
    std::optional<std::string> recordPath;
    // "Escape Shows Control Characters" on.
    bool escapeLiteral = false;
    std::optional<int> speed;     // a Speed entry's tag
    std::optional<int> fontDelta; // a Size entry's tag
    std::optional<int> columns;   // 40, or 80 (an XEP80)
    bool headless = false;
    bool exitWhenDone = false;
    std::optional<double> exitAfterSeconds;
    // How long a Telnet or raw TCP connect may take (30 s without it).
    std::optional<double> connectTimeoutSeconds;
    bool dumpScreen = false;
    // When quitting: the screen as UTF-8 text on standard output, and the
    // scrollback and then the screen as UTF-8 text into this file.
    bool dumpText = false;
    std::optional<std::string> saveScrollbackPath;
    std::optional<std::string> screenshotPath;
    // Once connected, type this text file into the line at a typing pace.
    std::optional<std::string> sendTextPath;
    // The typing pace of pastes and text files: milliseconds before each
    // code, and after an End Of Line.
    std::optional<TypingPace> typingPace;
    bool help = false;
    bool version = false;
};

struct CommandLineResult {
    CommandLineOptions options;
    // Empty when the arguments were understood; otherwise what was wrong.
    std::string error;
    bool Ok() const { return error.empty(); }
};

// Whether a movie or a connection is opened at start.
bool OpensAtStart(const CommandLineOptions& options);

// `arguments` without the program name.
CommandLineResult ParseCommandLine(const std::vector<std::string>& arguments);
std::string CommandLineUsage();

} // namespace telvora
