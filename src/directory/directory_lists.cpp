#include "directory/directory_lists.h"

#include "common/text_helpers.h"
#include "connection/serial/serial_settings.h"

#include <array>
#include <ctime>

namespace telvora {

namespace {

// Both forms store a board's width in words of their own; the INI form
// writes "Atari-XEP80", which some lists spell as it is shown.
constexpr std::string_view kWideScreenMode = "Atari-XEP80";
constexpr std::string_view kNarrowScreenMode = "Atari";

// Lists indent their keys with tabs: blanks of both kinds go.
std::string Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

bool IsComment(std::string_view line) {
    const std::string trimmed = Trim(line);
    return trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#';
}

int ParseNumber(std::string_view text, int fallback) {
    return ParseWholeNumber(Trim(text)).value_or(fallback);
}

std::string PortText(std::string_view text) {
    const int port = ParseNumber(text, 0);
    return port >= 1 && port <= 65535 ? std::to_string(port)
                                      : std::string(THostDirectory::kDefaultPort);
}

int ColumnsOf(std::string_view mode) {
    const std::string lower = LowerAscii(Trim(mode));
    return lower == LowerAscii(kWideScreenMode) || lower == "atari xep80" || lower == "80"
               ? THostDirectory::kWideColumns
               : THostDirectory::kNarrowColumns;
}

// Lists keep the last connection as a local date and time in words
// ("Mon Jan 13 2025 12:34:56"), or as seconds since 1970.
constexpr const char* kListDateTime = "%a %b %d %Y %H:%M:%S";
constexpr const char* kOurDateTime = "%Y-%m-%d %H:%M";

std::string LocalTimeText(const std::string& stored) {
    std::tm local{};
    const int seconds = ParseNumber(stored, -1);
    if (seconds > 0) {
        const std::time_t time = seconds;
        if (localtime_r(&time, &local) == nullptr) {
            return {};
        }
    } else if (const char* end = strptime(stored.c_str(), kListDateTime, &local);
               end == nullptr || *end != '\0') {
        return {};
    }
    char text[32];
    return std::strftime(text, sizeof text, kOurDateTime, &local) > 0 ? text : "";
}

std::string ListTimeText(const std::string& ours) {
    std::tm local{};
    const char* end = strptime(ours.c_str(), kOurDateTime, &local);
    if (end == nullptr || *end != '\0') {
        return {};
    }
    local.tm_isdst = -1;
    const std::time_t time = std::mktime(&local);
    std::tm normalised{};
    char text[40];
    return time > 0 && localtime_r(&time, &normalised) != nullptr &&
                   std::strftime(text, sizeof text, kListDateTime, &normalised) > 0
               ? text
               : "";
}

// Lists keep the modem's port among their program's own settings.
constexpr const char* kListModemDevice = "/dev/ttyUSB0";

// A board read so far; taken when it has a name, a known kind and an address.
struct TBoard {
    std::string Name;
    std::string Type = "Telnet";
    std::string Address;
    std::string Port;
    std::string UserName;
    std::string Password;
    std::string ScreenMode;
    int Calls = 0;
    std::string LastConnected;
    // A serial line's settings, as the INI form names them.
    std::string BpsRate;
    std::string DataBits;
    std::string StopBits;
    std::string Parity;
    std::optional<std::string> FlowControl;
};

// The INI form's names of the parities and flow controls; it also takes
// their places in these lists as numbers.
constexpr std::array<std::string_view, 3> kListParities = {"none", "even", "odd"};
constexpr std::array<std::string_view, 4> kListFlows = {"rtscts", "xonxoff", "rtscts_xonxoff",
                                                        "none"};

template <std::size_t N>
std::optional<std::size_t> ListEnum(const std::array<std::string_view, N>& names,
                                    std::string_view value) {
    const std::string lower = LowerAscii(Trim(value));
    for (std::size_t i = 0; i < N; ++i) {
        if (lower == names[i]) {
            return i;
        }
    }
    const int index = ParseNumber(lower, -1);
    return index >= 0 && static_cast<std::size_t>(index) < N
               ? std::optional<std::size_t>(static_cast<std::size_t>(index))
               : std::nullopt;
}

// The line a list gives a serial or modem board. What it leaves out is as
// the form's readers take it: the rate the port has (ours: the default),
// 8N1, and RTS/CTS unless the board's line has no RTS.
TSerialSettings ListLineSettings(const TBoard& board) {
    TSerialSettings line;
    line.Speed = ParseSerialSpeed(Trim(board.BpsRate)).value_or(TSerialSettings::kDefaultSpeed);
    line.DataBits = Trim(board.DataBits) == "7" ? 7 : 8;
    line.StopBits = Trim(board.StopBits) == "2" ? 2 : 1;
    static constexpr std::array<TParity, 3> parities = {TParity::paNone, TParity::paEven,
                                                        TParity::paOdd};
    line.Parity = parities[ListEnum(kListParities, board.Parity).value_or(0)];
    const bool noRts = LowerAscii(Trim(board.Type)) == "serialnorts";
    // Both handshakes at once is not offered here: the hardware one holds.
    static constexpr std::array<TSerialFlow, 4> flows = {TSerialFlow::RtsCts, TSerialFlow::XonXoff,
                                                         TSerialFlow::RtsCts, TSerialFlow::None};
    line.Flow = board.FlowControl ? flows[ListEnum(kListFlows, *board.FlowControl).value_or(3)]
                                  : TSerialFlow::RtsCts;
    if (noRts && line.Flow == TSerialFlow::RtsCts) {
        line.Flow = TSerialFlow::None;
    }
    return line;
}

std::string ListParityName(TParity parity) {
    return parity == TParity::paEven ? "Even" : parity == TParity::paOdd ? "Odd" : "None";
}

std::string ListFlowName(TSerialFlow flow) {
    return flow == TSerialFlow::RtsCts    ? "RTSCTS"
           : flow == TSerialFlow::XonXoff ? "XONXOFF"
                                          : "None";
}

// The INI form's keys for a serial or modem entry's line.
std::string ListLineKeys(const THostRow& row) {
    const TSerialSettings line = ParseStoredSerialSettings(row.Port).value_or(TSerialSettings{});
    return "BPSRate=" + std::to_string(line.Speed) + "\nDataBits=" + std::to_string(line.DataBits) +
           "\nStopBits=" + std::to_string(line.StopBits) +
           "\nParity=" + ListParityName(line.Parity) + "\nFlowControl=" + ListFlowName(line.Flow) +
           "\n";
}

void Take(const TBoard& board, TListImport& list) {
    const std::optional<THostProtocol> kind = EntryKindOfListType(board.Type);
    const std::string name = Trim(board.Name);
    if (!kind || name.empty() || Trim(board.Address).empty() ||
        THostDirectory::IsPortValueName(name) || list.Entries.size() >= kMaxListEntries) {
        ++list.Skipped;
        return;
    }
    TListEntry entry;
    entry.Row.Description = name;
    entry.Row.HostName = Trim(board.Address);
    entry.Row.Protocol = *kind;
    if (*kind == THostProtocol::Modem) {
        // A list names the number a modem dials, never the port the modem is on.
        entry.Row.Modem.Number = entry.Row.HostName;
        entry.Row.HostName = kListModemDevice;
    }
    // A serial line's port holds its settings: our own form writes them there.
    entry.Row.Port =
        THostDirectory::IsSerialLine(*kind)
            ? ParseStoredSerialSettings(board.Port).value_or(ListLineSettings(board)).StoredText()
            : PortText(board.Port);
    entry.Row.Columns = ColumnsOf(board.ScreenMode);
    entry.Row.UserName = board.UserName;
    entry.Row.Calls = board.Calls;
    entry.Row.LastCall = LocalTimeText(board.LastConnected);
    entry.Password = board.Password;
    list.Entries.push_back(std::move(entry));
}

void SetIniKey(TBoard& board, std::string_view key, std::string_view value) {
    const std::string name = LowerAscii(Trim(key));
    const std::string text = Trim(value);
    if (name == "connectiontype") {
        board.Type = text;
    } else if (name == "address") {
        board.Address = text;
    } else if (name == "port") {
        board.Port = text;
    } else if (name == "username") {
        board.UserName = text;
    } else if (name == "password") {
        board.Password = text;
    } else if (name == "screenmode") {
        board.ScreenMode = text;
    } else if (name == "totalcalls" || name == "calls") {
        board.Calls = ParseNumber(text, 0);
    } else if (name == "lastconnected") {
        board.LastConnected = text;
    } else if (name == "bpsrate") {
        board.BpsRate = text;
    } else if (name == "databits") {
        board.DataBits = text;
    } else if (name == "stopbits") {
        board.StopBits = text;
    } else if (name == "parity") {
        board.Parity = text;
    } else if (name == "flowcontrol") {
        board.FlowControl = text;
    }
}

// RFC 4180 fields: quoted ones may hold commas and doubled quotes.
std::vector<std::string> CsvFields(std::string_view line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// Quoted where it would otherwise be cut, trimmed or read as a comment.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos && text == Trim(text) &&
        (text.empty() || (text.front() != ';' && text.front() != '#'))) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

// What a list calls a board's address: a modem entry's is the number it dials.
std::string ListAddress(const THostRow& row) {
    return row.Protocol == THostProtocol::Modem ? row.Modem.Number : row.HostName;
}

bool Listed(const THostRow& row) {
    return !Trim(row.HostName).empty() && !Trim(row.Port).empty();
}

// Line breaks and the INI syntax's own characters would break the form.
std::string IniText(const std::string& text) {
    std::string clean;
    for (const char c : text) {
        clean += c == '\r' || c == '\n' || c == '[' || c == ']' ? ' ' : c;
    }
    return clean;
}

} // namespace

std::optional<THostProtocol> EntryKindOfListType(std::string_view type) {
    const std::string lower = LowerAscii(Trim(type));
    if (lower == "telnet") {
        return THostProtocol::Telnet;
    }
    if (lower == "raw" || lower == "raw tcp") {
        return THostProtocol::Raw;
    }
    if (lower == "serial" || lower == "serialnorts") {
        return THostProtocol::Serial;
    }
    if (lower == "modem") {
        return THostProtocol::Modem;
    }
    return std::nullopt;
}

TListImport ParseBbsListIni(std::string_view text) {
    TListImport list;
    std::optional<TBoard> board;
    for (const std::string_view line : Lines(text)) {
        if (IsComment(line) || line.size() > kMaxListLine) {
            continue;
        }
        const std::string trimmed = Trim(line);
        if (trimmed.front() == '[' && trimmed.back() == ']') {
            if (board) {
                Take(*board, list);
            }
            board = TBoard{};
            board->Name = trimmed.substr(1, trimmed.size() - 2);
            continue;
        }
        const std::size_t equals = trimmed.find('=');
        if (board && equals != std::string::npos) {
            SetIniKey(*board, std::string_view(trimmed).substr(0, equals),
                      std::string_view(trimmed).substr(equals + 1));
        }
    }
    if (board) {
        Take(*board, list);
    }
    return list;
}

TListImport ParseDirectoryCsv(std::string_view text) {
    TListImport list;
    bool first = true;
    for (const std::string_view line : Lines(text)) {
        if (IsComment(line) || line.size() > kMaxListLine) {
            continue;
        }
        const std::vector<std::string> fields = CsvFields(line);
        const bool header = first && LowerAscii(Trim(fields[0])) == "name";
        first = false;
        if (header) {
            continue;
        }
        const auto field = [&](std::size_t i) { return i < fields.size() ? fields[i] : ""; };
        TBoard board;
        board.Name = field(0);
        board.Type = field(1).empty() ? "Telnet" : field(1);
        board.Address = field(2);
        board.Port = field(3);
        board.ScreenMode = field(4);
        // A serial line without its settings gets ours, not the INI form's.
        board.FlowControl = "none";
        Take(board, list);
    }
    return list;
}

TListImport ParseDirectoryList(std::string_view text) {
    for (const std::string_view line : Lines(text)) {
        if (!IsComment(line)) {
            return Trim(line).front() == '[' ? ParseBbsListIni(text) : ParseDirectoryCsv(text);
        }
    }
    return {};
}

std::string WriteBbsListIni(const std::vector<THostRow>& rows) {
    std::string text;
    for (const THostRow& row : rows) {
        if (!Listed(row)) {
            continue;
        }
        text += "[" + IniText(row.Description) + "]\n";
        text += "ConnectionType=" + std::string(THostDirectory::ProtocolName(row.Protocol)) + "\n";
        text += "Address=" + IniText(ListAddress(row)) + "\n";
        text += THostDirectory::IsSerialLine(row.Protocol) ? ListLineKeys(row)
                                                           : "Port=" + PortText(row.Port) + "\n";
        if (!row.UserName.empty()) {
            text += "UserName=" + IniText(row.UserName) + "\n";
        }
        text +=
            "ScreenMode=" +
            std::string(THostDirectory::ValidColumns(row.Columns) == THostDirectory::kWideColumns
                            ? kWideScreenMode
                            : kNarrowScreenMode) +
            "\n";
        if (row.Calls > 0) {
            text += "TotalCalls=" + std::to_string(row.Calls) + "\n";
        }
        if (const std::string when = ListTimeText(row.LastCall); !when.empty()) {
            text += "LastConnected=" + when + "\n";
        }
        text += "\n";
    }
    return text;
}

std::string WriteDirectoryCsv(const std::vector<THostRow>& rows) {
    std::string text = "name,kind,address,port,width\n";
    for (const THostRow& row : rows) {
        if (!Listed(row)) {
            continue;
        }
        text += CsvField(row.Description) + "," +
                std::string(THostDirectory::ProtocolName(row.Protocol)) + "," +
                CsvField(ListAddress(row)) + "," +
                (THostDirectory::IsSerialLine(row.Protocol) ? THostDirectory::ValidPort(row)
                                                            : PortText(row.Port)) +
                "," + std::string(THostDirectory::ColumnsName(row.Columns)) + "\n";
    }
    return text;
}

} // namespace telvora
