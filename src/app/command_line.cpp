#include "app/command_line.h"

#include "app/menu_tags.h"
#include "common/text_helpers.h"
#include "directory/host_directory.h"

#include <charconv>
#include <cmath>

namespace telvora {

namespace {

// The options that name a file to read or write, and where each is kept.
std::optional<std::string>* FileOption(CommandLineOptions& options, const std::string& name) {
    if (name == "--record") {
        return &options.recordPath;
    }
    if (name == "--screenshot") {
        return &options.screenshotPath;
    }
    if (name == "--save-scrollback") {
        return &options.saveScrollbackPath;
    }
    if (name == "--send-text") {
        return &options.sendTextPath;
    }
    return nullptr;
}

std::optional<int> SpeedTag(const std::string& value) {
    return TagForOption(kSpeedEntries, value);
}

std::optional<int> SizeTag(const std::string& value) {
    return TagForOption(kSizeEntries, value);
}

std::optional<double> Seconds(const std::string& value) {
    double seconds = 0;
    const char* end = value.data() + value.size();
    const auto [last, error] = std::from_chars(value.data(), end, seconds);
    if (error != std::errc() || last != end || !std::isfinite(seconds) || seconds < 0 ||
        seconds > kMaxExitAfterSeconds) {
        return std::nullopt;
    }
    return seconds;
}

std::optional<int> Milliseconds(std::string_view text) {
    return ParseWholeNumber(text, kMaxTypingPaceMs);
}

// "CHARACTER-MS,LINE-END-MS".
std::optional<TypingPace> ParseTypingPace(const std::string& text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) {
        return std::nullopt;
    }
    const auto character = Milliseconds(std::string_view(text).substr(0, comma));
    const auto lineEnd = Milliseconds(std::string_view(text).substr(comma + 1));
    if (!character || !lineEnd) {
        return std::nullopt;
    }
    return TypingPace{*character, *lineEnd};
}

constexpr std::string_view kTelnetScheme = "telnet://";
constexpr std::string_view kRawScheme = "raw://";

bool OpensSomething(const CommandLineOptions& options) {
    return options.moviePath || options.telnet || options.serialDevice || options.entryName;
}

bool HasLine(const CommandLineOptions& options) {
    return options.telnet || options.serialDevice || options.entryName;
}

// What is opened at start is named once; a second one is an error.
bool OnlyOne(CommandLineResult& result, const std::string& what) {
    if (!OpensSomething(result.options)) {
        return true;
    }
    result.error = "only one movie or connection can be opened at start, not also '" + what + "'";
    return false;
}

bool SetTelnet(CommandLineResult& result, const std::string& text, bool raw) {
    if (!OnlyOne(result, text)) {
        return false;
    }
    std::string problem;
    result.options.telnet =
        raw ? ParseRawTarget(text, &problem) : ParseTelnetTarget(text, &problem);
    if (!result.options.telnet) {
        result.error = std::string(raw ? "not a raw TCP host: '" : "not a Telnet host: '") + text +
                       "' (" + problem + "; write HOST, HOST:PORT, [IPV6-ADDRESS]:PORT or " +
                       (raw ? "raw" : "telnet") + "://HOST:PORT)";
        return false;
    }
    return true;
}

bool SetSerial(CommandLineResult& result, const std::string& device) {
    if (!OnlyOne(result, device)) {
        return false;
    }
    if (device.empty()) {
        result.error = "the serial device name is empty";
        return false;
    }
    result.options.serialDevice = device;
    return true;
}

TModemSettings& Dial(CommandLineOptions& options) {
    if (!options.dial) {
        options.dial = TModemSettings{};
    }
    return *options.dial;
}

// --baud, --format, --flow, --dial, --init and --redial.
bool SetLineOption(CommandLineResult& result, const std::string& name, const std::string& text) {
    CommandLineOptions& options = result.options;
    TSerialSettings format;
    if (name == "--baud") {
        options.baud = ParseSerialSpeed(text);
        if (!options.baud) {
            result.error = "--baud takes 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, "
                           "115200 or 230400, not '" +
                           text + "'";
        }
    } else if (name == "--format") {
        if (ParseSerialFormat(text, format)) {
            options.format = format.FormatText();
        } else {
            result.error = "--format takes data bits (7 or 8), parity (N, E or O) and stop bits "
                           "(1 or 2), as 8N1 or 7E1, not '" +
                           text + "'";
        }
    } else if (name == "--flow") {
        options.flow = ParseSerialFlow(text);
        if (!options.flow) {
            result.error = "--flow takes none, rtscts or xonxoff, not '" + text + "'";
        }
    } else if (name == "--dial") {
        if (TrimBlanks(text).empty()) {
            result.error = "--dial needs a number";
        }
        Dial(options).Number = text;
    } else if (name == "--init") {
        Dial(options).InitString = text;
    } else {
        const std::optional<int> redials = ParseWholeNumber(text, TModemSettings::kMaxRedials);
        if (!redials) {
            result.error = "--redial takes a number of tries from 0 to " +
                           std::to_string(TModemSettings::kMaxRedials) + ", not '" + text + "'";
        }
        Dial(options).Redials = redials.value_or(0);
    }
    return result.error.empty();
}

bool AddUpload(CommandLineResult& result, const std::string& option, const std::string& file) {
    const TSendProtocol protocol = option == "--send-ymodem"      ? TSendProtocol::YModem
                                   : option == "--send-zmodem"    ? TSendProtocol::Zmodem
                                   : option == "--send-xmodem-1k" ? TSendProtocol::XModem1k
                                                                  : TSendProtocol::XModemCrc;
    const bool batch = protocol == TSendProtocol::YModem || protocol == TSendProtocol::Zmodem;
    if (file.empty()) {
        result.error = option + " needs a file name";
        return false;
    }
    std::optional<SendRequest>& send = result.options.send;
    if (send && (send->protocol != protocol || !batch)) {
        result.error = "only one upload can be started at start (--send-ymodem and "
                       "--send-zmodem may be given once per file)";
        return false;
    }
    if (!send) {
        send = SendRequest{protocol, {}};
    }
    send->files.push_back(file);
    return true;
}

bool SetMovie(CommandLineResult& result, const std::string& path) {
    if (result.options.moviePath) {
        result.error =
            "only one movie can be played: '" + *result.options.moviePath + "' and '" + path + "'";
        return false;
    }
    if (!OnlyOne(result, path)) {
        return false;
    }
    if (path.empty()) {
        result.error = "the movie file name is empty";
        return false;
    }
    result.options.moviePath = path;
    return true;
}

// HOST, HOST:PORT, [IPV6]:PORT or an IPv6 address alone, with or without
// the scheme given and a closing '/'.
std::optional<TelnetTarget> ParseTarget(const std::string& text, std::string_view scheme, bool raw,
                                        std::string* problem) {
    const std::optional<THostUrl> url = SplitHostUrl(text);
    const THostProtocol wanted = raw ? THostProtocol::Raw : THostProtocol::Telnet;
    if (url ? url->Protocol != wanted : HasOtherScheme(text)) {
        if (problem != nullptr) {
            *problem = "only a " + std::string(scheme) + " address is taken here";
        }
        return std::nullopt;
    }
    // Without a scheme, USER@HOST logs in as USER all the same.
    THostUrl parts;
    parts.HostPort = text;
    if (url) {
        parts = *url;
    } else if (text.find('@') != std::string::npos) {
        parts = SplitHostUrl((raw ? "raw://" : "telnet://") + text).value_or(parts);
    }
    const std::optional<THostPort> address = SplitHostPort(parts.HostPort, problem);
    if (!address) {
        return std::nullopt;
    }
    TelnetTarget target;
    target.raw = raw;
    target.user = parts.User;
    target.host = address->Host;
    if (!address->Port.empty()) {
        target.port = address->Port;
    }
    return target;
}

} // namespace

bool OpensAtStart(const CommandLineOptions& options) {
    return OpensSomething(options);
}

std::optional<TelnetTarget> ParseTelnetTarget(const std::string& text, std::string* problem) {
    return ParseTarget(text, kTelnetScheme, false, problem);
}

std::optional<TelnetTarget> ParseRawTarget(const std::string& text, std::string* problem) {
    return ParseTarget(text, kRawScheme, true, problem);
}

CommandLineResult ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLineResult result;
    CommandLineOptions& options = result.options;
    bool onlyFiles = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        // Options that take a value accept "--name value" and "--name=value".
        std::string name = argument;
        std::optional<std::string> attached;
        if (!onlyFiles && argument.rfind("--", 0) == 0) {
            if (const auto equals = argument.find('='); equals != std::string::npos) {
                name = argument.substr(0, equals);
                attached = argument.substr(equals + 1);
            }
        }
        auto value = [&]() -> std::optional<std::string> {
            if (attached) {
                return attached;
            }
            if (i + 1 < arguments.size()) {
                return arguments[++i];
            }
            result.error = "option " + name + " needs a value";
            return std::nullopt;
        };
        if (const std::optional<THostUrl> url = onlyFiles ? std::nullopt : SplitHostUrl(argument)) {
            if (!SetTelnet(result, argument, url->Protocol == THostProtocol::Raw)) {
                return result;
            }
        } else if (onlyFiles || argument.empty() || argument[0] != '-' || argument == "-") {
            if (!SetMovie(result, argument)) {
                return result;
            }
        } else if (argument == "--") {
            onlyFiles = true;
        } else if (name == "--play") {
            const auto path = value();
            if (!path || !SetMovie(result, *path)) {
                return result;
            }
        } else if (name == "--telnet" || name == "--raw") {
            const auto target = value();
            if (!target || !SetTelnet(result, *target, name == "--raw")) {
                return result;
            }
        } else if (name == "--entry") {
            const auto entry = value();
            if (!entry || !OnlyOne(result, *entry)) {
                return result;
            }
            if (TrimBlanks(*entry).empty()) {
                result.error = "--entry needs the name of a host directory entry";
                return result;
            }
            options.entryName = *entry;
        } else if (name == "--import-directory") {
            const auto path = value();
            if (!path) {
                return result;
            }
            if (path->empty()) {
                result.error = "--import-directory needs a file name";
                return result;
            }
            options.importPath = *path;
        } else if (name == "--serial") {
            const auto device = value();
            if (!device || !SetSerial(result, *device)) {
                return result;
            }
        } else if (name == "--baud" || name == "--format" || name == "--flow" || name == "--dial" ||
                   name == "--init" || name == "--redial") {
            const auto text = value();
            if (!text || !SetLineOption(result, name, *text)) {
                return result;
            }
        } else if (name == "--receive-xmodem" || name == "--receive-xmodem-1k" ||
                   name == "--receive-ymodem" || name == "--receive-ymodem-g" ||
                   name == "--receive-fmodem" || name == "--receive-zmodem") {
            const auto where = value();
            if (!where) {
                return result;
            }
            if (options.receive) {
                result.error = "only one download can be started at start";
                return result;
            }
            if (where->empty()) {
                result.error = name + " needs a file or folder name";
                return result;
            }
            const bool zmodem = name == "--receive-zmodem";
            const bool streaming = name == "--receive-ymodem-g";
            options.receive = ReceiveRequest{zmodem || streaming || name == "--receive-ymodem" ||
                                                 name == "--receive-fmodem",
                                             *where, zmodem, streaming};
        } else if (name == "--download-folder") {
            const auto folder = value();
            if (!folder) {
                return result;
            }
            if (folder->empty()) {
                result.error = "--download-folder needs a folder name";
                return result;
            }
            options.downloadFolder = *folder;
        } else if (name == "--send-xmodem" || name == "--send-xmodem-1k" ||
                   name == "--send-ymodem" || name == "--send-zmodem") {
            const auto file = value();
            if (!file || !AddUpload(result, name, *file)) {
                return result;
            }
        } else if (name == "--speed") {
            const auto text = value();
            if (!text) {
                return result;
            }
            options.speed = SpeedTag(*text);
            if (!options.speed) {
                result.error = "--speed takes 300, 600, 1200, 2400 or max, not '" + *text + "'";
                return result;
            }
        } else if (name == "--size") {
            const auto text = value();
            if (!text) {
                return result;
            }
            options.fontDelta = SizeTag(*text);
            if (!options.fontDelta) {
                result.error = "--size takes small, medium or large, not '" + *text + "'";
                return result;
            }
        } else if (name == "--columns") {
            const auto text = value();
            if (!text) {
                return result;
            }
            if (*text != "40" && *text != "80") {
                result.error = "--columns takes 40 or 80, not '" + *text + "'";
                return result;
            }
            options.columns = *text == "40" ? 40 : 80;
        } else if (name == "--typing-pace") {
            const auto text = value();
            if (!text) {
                return result;
            }
            options.typingPace = ParseTypingPace(*text);
            if (!options.typingPace) {
                result.error = "--typing-pace takes two numbers of milliseconds from 0 to " +
                               std::to_string(kMaxTypingPaceMs) +
                               ", for each code and after each line end (e.g. 20,200), not '" +
                               *text + "'";
                return result;
            }
        } else if (name == "--exit-after") {
            const auto text = value();
            if (!text) {
                return result;
            }
            options.exitAfterSeconds = Seconds(*text);
            if (!options.exitAfterSeconds) {
                result.error = "--exit-after takes a number of seconds from 0 to " +
                               std::to_string(static_cast<long>(kMaxExitAfterSeconds)) + ", not '" +
                               *text + "'";
                return result;
            }
        } else if (name == "--connect-timeout") {
            const auto text = value();
            if (!text) {
                return result;
            }
            options.connectTimeoutSeconds = Seconds(*text);
            if (!options.connectTimeoutSeconds || *options.connectTimeoutSeconds <= 0) {
                result.error = "--connect-timeout takes a number of seconds above 0 up to " +
                               std::to_string(static_cast<long>(kMaxExitAfterSeconds)) + ", not '" +
                               *text + "'";
                return result;
            }
        } else if (std::optional<std::string>* file = FileOption(options, name)) {
            const auto path = value();
            if (!path) {
                return result;
            }
            if (path->empty()) {
                result.error = name + " needs a file name";
                return result;
            }
            *file = *path;
        } else if (attached) {
            result.error = "option " + name + " takes no value";
            return result;
        } else if (name == "--no-telnet-filter") {
            options.noTelnetFilter = true;
        } else if (name == "--resume") {
            options.resume = true;
        } else if (name == "--escape-literal") {
            options.escapeLiteral = true;
        } else if (name == "--list-entries") {
            options.listEntries = true;
        } else if (name == "--headless") {
            options.headless = true;
        } else if (name == "--exit-when-done") {
            options.exitWhenDone = true;
        } else if (name == "--dump-screen") {
            options.dumpScreen = true;
        } else if (name == "--dump-text") {
            options.dumpText = true;
        } else if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else {
            result.error = "unknown option '" + argument + "'";
            return result;
        }
    }
    const bool lineOptions = options.baud || options.format || options.flow || options.dial;
    if (lineOptions && !options.serialDevice) {
        result.error = "--baud, --format, --flow, --dial, --init and --redial need --serial DEVICE";
    } else if (options.dial && options.dial->Number.empty()) {
        result.error = "--init and --redial need --dial NUMBER";
    } else if (options.receive && !HasLine(options)) {
        result.error = "a download needs a connection: --telnet, --raw or --serial";
    } else if (options.send && !HasLine(options)) {
        result.error = "an upload needs a connection: --telnet, --raw or --serial";
    } else if (options.send && options.receive) {
        result.error = "a download and an upload cannot both be started at start";
    } else if (options.sendTextPath && !HasLine(options)) {
        result.error = "sending a text needs a connection: --telnet, --raw or --serial";
    } else if (options.sendTextPath && (options.send || options.receive)) {
        result.error = "a text cannot be sent together with a download or an upload";
    }
    return result;
}

std::string CommandLineUsage() {
    return "Usage: telvora [options] [MOVIE-FILE | telnet://[USER@]HOST[:PORT] | "
           "raw://HOST[:PORT]]\n"
           "\n"
           "A terminal for Atari ATASCII bulletin-board systems.\n"
           "\n"
           "Options:\n"
           "  --play FILE            play this ATASCII movie at start\n"
           "  --telnet HOST[:PORT]   connect to this Telnet host at start (port 23\n"
           "                         unless given)\n"
           "  --raw HOST[:PORT]      connect to this host by raw TCP at start: no Telnet,\n"
           "                         every byte as it is (port 23 unless given)\n"
           "  --connect-timeout SECONDS\n"
           "                         give a Telnet or raw TCP connect up after this\n"
           "                         time (30 unless given)\n"
           "  --serial DEVICE        attach to this serial port at start (a path, or a\n"
           "                         name in /dev)\n"
           "  --baud N               the serial line's speed: 300, 600, 1200, 2400,\n"
           "                         4800, 9600, 19200, 38400, 57600, 115200 or 230400\n"
           "  --format FORMAT        data bits, parity and stop bits: 8N1, 7E1, 8O2, ...\n"
           "  --flow FLOW            flow control: none, rtscts or xonxoff\n"
           "                         (without them: as \"Serial Settings...\" last had\n"
           "                         them, else 19200 8N1 none)\n"
           "  --dial NUMBER          dial the number through the modem on --serial (a\n"
           "                         phone number, or HOST:PORT for a WiFi modem); the\n"
           "                         exit status is 1 when the call cannot be made\n"
           "  --init STRING          the modem's init string (ATZ unless given)\n"
           "  --redial N             tries after a failed call (0 unless given)\n"
           "  --entry NAME           call this host directory entry at start, as it is\n"
           "                         kept (kind, address, width, login)\n"
           "  --list-entries         print the host directory, one entry a line: name,\n"
           "                         kind, address, width, calls and last call; then quit\n"
           "  --import-directory FILE\n"
           "                         take the boards of a BBS list (INI) or CSV file\n"
           "                         (name,kind,address,port,width) into the directory,\n"
           "                         say how many were taken and skipped, then quit\n"
           "                         unless a connection is asked for too\n"
           "  --receive-xmodem FILE, --receive-xmodem-1k FILE\n"
           "                         once connected, download one file by X-Modem\n"
           "  --receive-ymodem FOLDER, --receive-fmodem FOLDER\n"
           "                         once connected, download a batch into the folder\n"
           "  --receive-ymodem-g FOLDER\n"
           "                         the same by Y-Modem-G: the sender streams without\n"
           "                         waiting for ACKs, and any error cancels the batch\n"
           "  --send-xmodem FILE, --send-xmodem-1k FILE\n"
           "                         once connected, upload one file by X-Modem\n"
           "  --send-ymodem FILE     once connected, upload the file by Y-Modem; given\n"
           "                         once per file, in the order to send\n"
           "  --receive-zmodem FOLDER\n"
           "                         once connected, download by ZMODEM into the folder\n"
           "  --send-zmodem FILE     once connected, upload the file by ZMODEM; given\n"
           "                         once per file, in the order to send\n"
           "  --download-folder FOLDER\n"
           "                         where a ZMODEM send the board begins goes (its\n"
           "                         download opens by itself)\n"
           "  --resume               a ZMODEM download resumes files already in the\n"
           "                         folder; without it they arrive under new names\n"
           "  --no-telnet-filter     pass 255 and CR bytes of a download as they come\n"
           "                         (\"Filter TELNET Escape Codes...\" off)\n"
           "  --record FILE          record what a Telnet or serial session shows as an\n"
           "                         ATASCII movie (\"Record Session...\")\n"
           "  --escape-literal       Escape shows the next code's glyph, whatever it is,\n"
           "                         as on the Atari (\"Escape Shows Control Characters\")\n"
           "  --speed SPEED          300, 600, 1200, 2400 or max (no throttle)\n"
           "  --size SIZE            small, medium or large\n"
           "  --columns 40|80        the screen's width: the Atari's 40 columns, or an\n"
           "                         XEP80's 80 (\"80 Columns (XEP80)\")\n"
           "  --headless             run without a window or sound; only the program's\n"
           "                         own messages, on standard error\n"
           "  --exit-when-done       quit when the movie or connection has ended\n"
           "  --exit-after SECONDS   quit after this time, stopping what runs\n"
           "  --dump-screen          when quitting, print the screen on standard output:\n"
           "                         24 lines of 40 or 80 codes (the screen's width),\n"
           "                         each as two upper-case hex digits, separated by\n"
           "                         single spaces, then a line \"cursor X Y\" (column\n"
           "                         and row, counted from 1)\n"
           "  --dump-text            when quitting, print the screen as UTF-8 text on\n"
           "                         standard output (trailing blanks removed)\n"
           "  --save-scrollback FILE when quitting, write the scrollback and then the\n"
           "                         screen into the file: UTF-8 text, or an ATASCII\n"
           "                         movie that replays them when FILE ends in .ata\n"
           "  --send-text FILE       once connected, type the text file into the line at\n"
           "                         a typing pace (UTF-8 text, or ATASCII as it is)\n"
           "  --typing-pace MS,MS    the pace of pastes and texts: milliseconds before\n"
           "                         each code and after each line end (20,200)\n"
           "  --screenshot FILE      when quitting, save a picture of the screen in\n"
           "                         the format the suffix names (.png, .jpg, .bmp, ...;\n"
           "                         PNG without one)\n"
           "  --help                 show this help\n"
           "  --version              show the version\n"
           "\n"
           "HOST is a name, an IPv4 address or an IPv6 address in brackets: [::1],\n"
           "[::1]:2323, telnet://[::1]:2323/. An IPv6 address without brackets (::1)\n"
           "is taken whole as the host, on port 23: a port after it would read as\n"
           "part of the address.\n";
}

} // namespace telvora
