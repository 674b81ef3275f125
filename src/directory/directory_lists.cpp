#include "directory/directory_lists.h"

#include "common/text_helpers.h"

#include <charconv>
#include <ctime>

namespace telvora {

namespace {

// Both forms store a board's width in words of their own.
constexpr std::string_view kWideScreenMode = "Atari XEP80";
constexpr std::string_view kNarrowScreenMode = "Atari";

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
    const std::string trimmed = TrimBlanks(line);
    return trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#';
}

int ParseNumber(std::string_view text, int fallback) {
    const std::string trimmed = TrimBlanks(text);
    long long value = 0;
    const auto [end, error] =
        std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    if (error != std::errc() || end != trimmed.data() + trimmed.size() || value < 0 ||
        value > 0x7FFFFFFF) {
        return fallback;
    }
    return static_cast<int>(value);
}

std::string PortText(std::string_view text) {
    const int port = ParseNumber(text, 0);
    return port >= 1 && port <= 65535 ? std::to_string(port)
                                      : std::string(THostDirectory::kDefaultPort);
}

int ColumnsOf(std::string_view mode) {
    const std::string lower = LowerAscii(TrimBlanks(mode));
    return lower == LowerAscii(kWideScreenMode) || lower == "80" ? THostDirectory::kWideColumns
                                                                 : THostDirectory::kNarrowColumns;
}

// Lists keep the last connection as seconds since 1970.
std::string LocalTimeText(long long seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (seconds <= 0 || localtime_r(&time, &local) == nullptr) {
        return {};
    }
    char text[32];
    return std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) > 0 ? text : "";
}

long long SecondsOf(const std::string& localText) {
    std::tm local{};
    if (strptime(localText.c_str(), "%Y-%m-%d %H:%M", &local) == nullptr) {
        return 0;
    }
    local.tm_isdst = -1;
    const std::time_t time = std::mktime(&local);
    return time < 0 ? 0 : static_cast<long long>(time);
}

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
    long long LastConnected = 0;
};

void Take(const TBoard& board, TListImport& list) {
    const std::optional<THostProtocol> kind = EntryKindOfListType(board.Type);
    const std::string name = TrimBlanks(board.Name);
    if (!kind || name.empty() || TrimBlanks(board.Address).empty() ||
        THostDirectory::IsPortValueName(name) || list.Entries.size() >= kMaxListEntries) {
        ++list.Skipped;
        return;
    }
    TListEntry entry;
    entry.Row.Description = name;
    entry.Row.HostName = TrimBlanks(board.Address);
    entry.Row.Port = PortText(board.Port);
    entry.Row.Protocol = *kind;
    entry.Row.Columns = ColumnsOf(board.ScreenMode);
    entry.Row.UserName = board.UserName;
    entry.Row.Calls = board.Calls;
    entry.Row.LastCall = LocalTimeText(board.LastConnected);
    entry.Password = board.Password;
    list.Entries.push_back(std::move(entry));
}

void SetIniKey(TBoard& board, std::string_view key, std::string_view value) {
    const std::string name = LowerAscii(TrimBlanks(key));
    const std::string text = TrimBlanks(value);
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
    } else if (name == "calls") {
        board.Calls = ParseNumber(text, 0);
    } else if (name == "lastconnected") {
        board.LastConnected = ParseNumber(text, 0);
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
    if (text.find_first_of(",\"\r\n") == std::string::npos && text == TrimBlanks(text) &&
        (text.empty() || (text.front() != ';' && text.front() != '#'))) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

bool Listed(const THostRow& row) {
    return !TrimBlanks(row.HostName).empty() && !TrimBlanks(row.Port).empty();
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
    const std::string lower = LowerAscii(TrimBlanks(type));
    if (lower == "telnet") {
        return THostProtocol::Telnet;
    }
    if (lower == "raw" || lower == "raw tcp") {
        return THostProtocol::Raw;
    }
    // Serial and modem boards can be taken once the directory keeps them.
    return std::nullopt;
}

TListImport ParseBbsListIni(std::string_view text) {
    TListImport list;
    std::optional<TBoard> board;
    for (const std::string_view line : Lines(text)) {
        if (IsComment(line) || line.size() > kMaxListLine) {
            continue;
        }
        const std::string trimmed = TrimBlanks(line);
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
        const bool header = first && LowerAscii(TrimBlanks(fields[0])) == "name";
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
        Take(board, list);
    }
    return list;
}

TListImport ParseDirectoryList(std::string_view text) {
    for (const std::string_view line : Lines(text)) {
        if (!IsComment(line)) {
            return TrimBlanks(line).front() == '[' ? ParseBbsListIni(text)
                                                   : ParseDirectoryCsv(text);
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
        text += "Address=" + IniText(row.HostName) + "\n";
        text += "Port=" + PortText(row.Port) + "\n";
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
            text += "Calls=" + std::to_string(row.Calls) + "\n";
        }
        if (const long long seconds = SecondsOf(row.LastCall); seconds > 0) {
            text += "LastConnected=" + std::to_string(seconds) + "\n";
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
                CsvField(row.HostName) + "," + PortText(row.Port) + "," +
                std::string(THostDirectory::ColumnsName(row.Columns)) + "\n";
    }
    return text;
}

} // namespace telvora
