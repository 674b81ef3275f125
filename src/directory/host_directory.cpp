#include "directory/host_directory.h"

#include "common/text_helpers.h"
#include "connection/serial/serial_settings.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <map>

namespace telvora {

namespace {

bool IsBlank(std::string_view text) {
    return TrimBlanks(text).empty();
}

// Case-insensitive order, folded the way the store compares names so that
// non-ASCII letters sort regardless of case too where the store folds them;
// names equal but for case (possible only in a store edited by hand) keep a
// fixed order by their bytes.
void SortNoCase(const TSettingsStore& store, std::vector<std::string>& names) {
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names) {
        keyed.emplace_back(store.FoldCase(name), std::move(name));
    }
    std::sort(keyed.begin(), keyed.end());
    for (std::size_t i = 0; i < names.size(); ++i) {
        names[i] = std::move(keyed[i].second);
    }
}

} // namespace

std::optional<THostUrl> SplitHostUrl(std::string_view text) {
    static constexpr std::pair<std::string_view, THostProtocol> kSchemes[] = {
        {"telnet://", THostProtocol::Telnet}, {"raw://", THostProtocol::Raw}};
    for (const auto& [scheme, protocol] : kSchemes) {
        if (LowerAscii(text.substr(0, scheme.size())) != scheme) {
            continue;
        }
        std::string_view rest = text.substr(scheme.size());
        if (!rest.empty() && rest.back() == '/') {
            rest.remove_suffix(1);
        }
        THostUrl url;
        url.Protocol = protocol;
        if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
            const std::string_view userInfo = rest.substr(0, at);
            url.User = std::string(userInfo.substr(0, userInfo.find(':')));
            rest.remove_prefix(at + 1);
        }
        url.HostPort = std::string(rest);
        return url;
    }
    return std::nullopt;
}

bool HasOtherScheme(std::string_view text) {
    return !SplitHostUrl(text) && text.find("://") != std::string_view::npos;
}

namespace {

// An IPv6 address in digits, optionally with a zone ("fe80::1%eth0").
bool IsIPv6Address(std::string_view text) {
    const auto percent = text.find('%');
    if (percent != std::string_view::npos) {
        const std::string_view zone = text.substr(percent + 1);
        if (zone.empty() || zone.find_first_of(" \t/[]:%") != std::string_view::npos) {
            return false;
        }
        text = text.substr(0, percent);
    }
    in6_addr address{};
    return inet_pton(AF_INET6, std::string(text).c_str(), &address) == 1;
}

std::optional<THostPort> Fails(std::string* problem, const std::string& what) {
    if (problem != nullptr) {
        *problem = what;
    }
    return std::nullopt;
}

// "1".."65535", leading zeros allowed; kept without them.
bool ReadPort(std::string_view port, THostPort& address) {
    const std::optional<int> number = ParseWholeNumber(port, 65535);
    if (!number || *number < 1) {
        return false;
    }
    address.Port = std::to_string(*number);
    return true;
}

constexpr const char* kPortRange = "the port must be a number from 1 to 65535";

} // namespace

std::optional<THostPort> SplitHostPort(std::string_view text, std::string* problem) {
    THostPort address;
    std::string_view host = text;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos) {
            return Fails(problem, "the '[' before an IPv6 address has no ']'");
        }
        host = text.substr(1, close - 1);
        const std::string_view after = text.substr(close + 1);
        if (!IsIPv6Address(host)) {
            return Fails(problem, "'" + std::string(host) + "' in brackets is not an IPv6 address");
        }
        if (!after.empty() && after.front() != ':') {
            return Fails(problem, "only :PORT may follow the ']' of an IPv6 address");
        }
        if (!after.empty() && !ReadPort(after.substr(1), address)) {
            return Fails(problem, kPortRange);
        }
    } else if (text.find(']') != std::string_view::npos) {
        return Fails(problem, "a ']' without its '['");
    } else if (const auto colon = text.find(':'); colon != std::string_view::npos) {
        if (text.find(':', colon + 1) != std::string_view::npos) {
            // Several colons: an IPv6 address alone, on the default port.
            if (!IsIPv6Address(text)) {
                return Fails(problem, "several ':' but not an IPv6 address; an IPv6 address "
                                      "with a port is written in brackets");
            }
        } else {
            if (!ReadPort(text.substr(colon + 1), address)) {
                return Fails(problem, kPortRange);
            }
            host = text.substr(0, colon);
        }
    }
    if (host.empty()) {
        return Fails(problem, "no host");
    }
    if (host.find_first_of(" \t/") != std::string_view::npos) {
        return Fails(problem, "a host name has no blanks or '/'");
    }
    address.Host = std::string(host);
    return address;
}

bool THostDirectory::IsInteger(std::string_view text) {
    const std::string trimmed = TrimBlanks(text);
    std::string_view digits = trimmed;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        digits.remove_prefix(1);
    }
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    std::int32_t value = 0;
    const char* first = trimmed.data() + (trimmed.front() == '+' ? 1 : 0);
    const char* last = trimmed.data() + trimmed.size();
    const auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last;
}

bool THostDirectory::IsPortValueName(std::string_view name) {
    return ContainsNoCase(name, kPortSuffix);
}

std::string_view THostDirectory::ProtocolName(THostProtocol protocol) {
    switch (protocol) {
    case THostProtocol::Raw:
        return kRawName;
    case THostProtocol::Serial:
        return kSerialName;
    case THostProtocol::Modem:
        return kModemName;
    case THostProtocol::Telnet:
        break;
    }
    return kTelnetName;
}

THostProtocol THostDirectory::ParseProtocol(std::string_view stored) {
    const std::string name = LowerAscii(TrimBlanks(stored));
    for (const THostProtocol protocol :
         {THostProtocol::Raw, THostProtocol::Serial, THostProtocol::Modem}) {
        if (name == LowerAscii(ProtocolName(protocol))) {
            return protocol;
        }
    }
    return THostProtocol::Telnet;
}

std::string THostDirectory::ValidPort(const THostRow& row) {
    if (IsSerialLine(row.Protocol)) {
        return ParseStoredSerialSettings(row.Port).value_or(TSerialSettings{}).StoredText();
    }
    return IsInteger(row.Port) ? row.Port : std::string(kDefaultPort);
}

void THostDirectory::LoadModem(THostRow& row) {
    const std::string& name = row.Description;
    row.Modem.Number = m_store.ReadString(name + std::string(kNumberSuffix));
    if (const std::string init = m_store.ReadString(name + std::string(kInitSuffix));
        !init.empty()) {
        row.Modem.InitString = init;
    }
    if (const std::string dial = m_store.ReadString(name + std::string(kDialSuffix));
        !dial.empty()) {
        row.Modem.DialCommand = dial;
    }
    const std::string redials = TrimBlanks(m_store.ReadString(name + std::string(kRedialSuffix)));
    row.Modem.Redials =
        redials.size() <= 2 && IsInteger(redials) ? std::clamp(std::stoi(redials), 0, 99) : 0;
}

void THostDirectory::SaveModem(const THostRow& row) {
    const std::string& name = row.Description;
    m_store.WriteString(name + std::string(kNumberSuffix), row.Modem.Number);
    m_store.WriteString(name + std::string(kInitSuffix), row.Modem.InitString);
    m_store.WriteString(name + std::string(kDialSuffix), row.Modem.DialCommand);
    m_store.WriteString(name + std::string(kRedialSuffix), std::to_string(row.Modem.Redials));
}

int THostDirectory::ValidColumns(int columns) {
    return columns == kWideColumns ? kWideColumns : kNarrowColumns;
}

std::string_view THostDirectory::ColumnsName(int columns) {
    return ValidColumns(columns) == kWideColumns ? "80" : "40";
}

int THostDirectory::ParseColumns(std::string_view stored) {
    return TrimBlanks(stored) == ColumnsName(kWideColumns) ? kWideColumns : kNarrowColumns;
}

void THostDirectory::LoadHosts() {
    std::vector<std::string> names;
    const bool open = m_store.OpenKey(kDirectoryKey);
    if (open) {
        names = m_store.ValueNames();
    }
    SortNoCase(m_store, names);

    // Walking from the last name and inserting each host at row 1 is the same
    // as listing them in sorted order, so build the list back to front.
    std::vector<THostRow> reversed;
    reversed.reserve(names.size() / 2 + 1);
    // A store whose last name is a host without a port value (edited by
    // another program) puts that host into the empty last row.
    bool filledEmptyRow = false;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (IsPortValueName(*it)) {
            continue;
        }
        THostRow row;
        row.Description = *it;
        row.HostName = m_store.ReadString(*it);
        row.Port = m_store.ReadString(*it + std::string(kPortSuffix));
        if (row.Port.empty()) {
            row.Port = kDefaultPort;
        }
        row.Protocol = ParseProtocol(m_store.ReadString(*it + std::string(kProtocolSuffix)));
        row.Columns = ParseColumns(m_store.ReadString(*it + std::string(kColumnsSuffix)));
        row.ConnectTimeout =
            ParseConnectTimeout(m_store.ReadString(*it + std::string(kTimeoutSuffix)));
        ReadKeptFields(*it, row);
        if (row.Protocol == THostProtocol::Modem) {
            LoadModem(row);
        }
        if (it == names.rbegin()) {
            filledEmptyRow = true;
        }
        reversed.push_back(std::move(row));
    }
    if (open) {
        m_store.CloseKey();
    }
    m_loadProblem = m_store.Problem();

    m_rows.assign(reversed.rbegin(), reversed.rend());
    m_sorted = false;
    if (!filledEmptyRow) {
        m_rows.emplace_back();
    }
    EnterRow(1);
}

void THostDirectory::EnterRow(int row) {
    if (row < 1 || row > RowCount()) {
        return;
    }
    m_edits = Row(row);
    if (m_edits.Port.empty()) {
        m_edits.Port = kDefaultPort;
    }
    m_currentRow = row;
}

bool THostDirectory::SaveRows(const std::vector<THostRow>& rows) {
    // Only a store that can hold the key at all gets its old content deleted.
    if (!m_store.OpenKey(kDirectoryKey)) {
        return false;
    }
    m_store.DeleteKey(kDirectoryKey);
    m_store.OpenKey(kDirectoryKey);
    for (const THostRow* written : RowsToWrite(rows)) {
        const THostRow& row = *written;
        m_store.WriteString(row.Description, row.HostName);
        m_store.WriteString(row.Description + std::string(kPortSuffix), row.Port);
        // Written for Telnet hosts and 40 columns too: of two rows with the
        // same description the lower one's type and width must win, as its
        // host name and port do.
        m_store.WriteString(row.Description + std::string(kProtocolSuffix),
                            ProtocolName(row.Protocol));
        m_store.WriteString(row.Description + std::string(kColumnsSuffix),
                            ColumnsName(row.Columns));
        m_store.WriteString(row.Description + std::string(kTimeoutSuffix),
                            std::to_string(ValidConnectTimeout(row.ConnectTimeout)));
        WriteKeptFields(row);
        if (row.Protocol == THostProtocol::Modem) {
            SaveModem(row);
        }
    }
    return m_store.CloseKey();
}

std::vector<const THostRow*> THostDirectory::RowsToWrite(const std::vector<THostRow>& rows) const {
    std::vector<const THostRow*> written;
    std::map<std::string, std::size_t> byName;
    for (const THostRow& row : rows) {
        if (IsBlank(row.Port) || IsBlank(row.HostName)) {
            continue;
        }
        const auto [at, added] = byName.emplace(m_store.FoldCase(row.Description), written.size());
        if (added) {
            written.push_back(&row);
        } else {
            written[at->second] = &row;
        }
    }
    return written;
}

namespace {

std::string Named(const std::string& description, std::string_view suffix) {
    return description + std::string(suffix);
}

int ParseCount(std::string_view stored) {
    return ParseWholeNumber(TrimBlanks(stored)).value_or(0);
}

constexpr std::string_view kYes = "1";

} // namespace

void THostDirectory::ReadKeptFields(const std::string& description, THostRow& row) const {
    row.UserName = m_store.ReadString(Named(description, kUserSuffix));
    row.LoginSteps = m_store.ReadString(Named(description, kLoginStepsSuffix));
    row.Calls = ParseCount(m_store.ReadString(Named(description, kCallsSuffix)));
    row.LastCall = m_store.ReadString(Named(description, kLastCallSuffix));
    row.EscapeShowsControls = m_store.ReadString(Named(description, kEscapeSuffix)) == kYes;
    row.RawOffered = m_store.ReadString(Named(description, kRawOfferedSuffix)) == kYes;
}

void THostDirectory::WriteKeptFields(const THostRow& row) {
    const auto writeIf = [&](bool kept, std::string_view suffix, std::string_view value) {
        if (kept) {
            m_store.WriteString(Named(row.Description, suffix), value);
        }
    };
    writeIf(!row.UserName.empty(), kUserSuffix, row.UserName);
    writeIf(!row.LoginSteps.empty(), kLoginStepsSuffix, row.LoginSteps);
    writeIf(row.Calls > 0, kCallsSuffix, std::to_string(row.Calls));
    writeIf(!row.LastCall.empty(), kLastCallSuffix, row.LastCall);
    writeIf(row.EscapeShowsControls, kEscapeSuffix, kYes);
    writeIf(row.RawOffered, kRawOfferedSuffix, kYes);
}

void THostDirectory::SortRows(THostSortKey key, bool descending) {
    const auto sortKey = [key](const THostRow& row) -> std::pair<std::string, long long> {
        switch (key) {
        case THostSortKey::HostName:
            return {LowerAscii(row.HostName), 0};
        case THostSortKey::Port:
            return {{}, IsInteger(row.Port) ? std::stoll(TrimBlanks(row.Port)) : 0};
        case THostSortKey::Type:
            return {std::string(ProtocolName(row.Protocol)), 0};
        case THostSortKey::Columns:
            return {{}, ValidColumns(row.Columns)};
        case THostSortKey::ConnectTimeout:
            return {{}, row.ConnectTimeout};
        case THostSortKey::Calls:
            return {{}, row.Calls};
        case THostSortKey::LastCall:
            return {row.LastCall, 0};
        case THostSortKey::Description:
            break;
        }
        return {};
    };
    const THostRow* current = HasCurrentRow() ? &Row(m_currentRow) : nullptr;
    std::vector<std::pair<THostRow, bool>> rows;
    for (const THostRow& row : m_rows) {
        rows.emplace_back(row, &row == current);
    }
    const auto listed = std::stable_partition(
        rows.begin(), rows.end(), [](const auto& row) { return !IsBlank(row.first.HostName); });
    std::stable_sort(rows.begin(), listed, [&](const auto& a, const auto& b) {
        const auto left = std::make_pair(sortKey(a.first), m_store.FoldCase(a.first.Description));
        const auto right = std::make_pair(sortKey(b.first), m_store.FoldCase(b.first.Description));
        return descending ? right < left : left < right;
    });
    m_sorted = key != THostSortKey::Description || descending;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        m_rows[i] = std::move(rows[i].first);
        if (rows[i].second) {
            m_currentRow = static_cast<int>(i) + 1;
        }
    }
}

int THostDirectory::FindRow(std::string_view description) const {
    const std::string wanted = m_store.FoldCase(description);
    for (int row = 1; row <= RowCount(); ++row) {
        const THostRow& entry = Row(row);
        if (!IsBlank(entry.HostName) && m_store.FoldCase(entry.Description) == wanted) {
            return row;
        }
    }
    return 0;
}

bool THostDirectory::RecordCall(std::string_view description, const std::string& when) {
    LoadHosts();
    const int row = FindRow(description);
    if (row == 0) {
        return false;
    }
    THostRow entry = Row(row);
    ++entry.Calls;
    entry.LastCall = when;
    return ChangeEntry(entry);
}

bool THostDirectory::ChangeEntry(const THostRow& entry) {
    LoadHosts();
    const int row = FindRow(entry.Description);
    if (row == 0) {
        return false;
    }
    std::vector<THostRow> rows = m_rows;
    rows[static_cast<std::size_t>(row - 1)] = entry;
    return Commit(rows) == THostEditResult::Saved;
}

// What a list says of a board replaces ours; what lists do not carry (the
// login steps, the timeout, how Escape shows, a modem's own commands and
// the port it is on) stays as the user set it, and so do the calls made here.
void THostDirectory::TakeListedFields(THostRow& kept, const THostRow& listed) {
    // A list's modem board names no port: the one the entry dials on stays.
    if (listed.Protocol != THostProtocol::Modem || !IsSerialLine(kept.Protocol)) {
        kept.HostName = listed.HostName;
    }
    kept.Port = listed.Port;
    kept.Protocol = listed.Protocol;
    kept.Columns = listed.Columns;
    kept.Modem.Number = listed.Modem.Number;
    if (!listed.UserName.empty()) {
        kept.UserName = listed.UserName;
    }
    kept.Calls = std::max(kept.Calls, listed.Calls);
    kept.LastCall = std::max(kept.LastCall, listed.LastCall);
}

bool THostDirectory::Merge(const std::vector<THostRow>& entries, TMergeCounts& counts) {
    LoadHosts();
    counts = {};
    std::vector<THostRow> rows;
    std::copy_if(m_rows.begin(), m_rows.end(), std::back_inserter(rows),
                 [](const THostRow& row) { return !IsBlank(row.HostName) && !IsBlank(row.Port); });
    std::map<std::string, std::size_t> byName;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        byName.emplace(m_store.FoldCase(rows[i].Description), i);
    }
    for (const THostRow& entry : entries) {
        const auto [at, added] = byName.emplace(m_store.FoldCase(entry.Description), rows.size());
        if (added) {
            rows.push_back(entry);
            ++counts.Added;
            continue;
        }
        TakeListedFields(rows[at->second], entry);
        ++counts.Updated;
    }
    rows.emplace_back();
    return Commit(rows) == THostEditResult::Saved;
}

THostEditResult THostDirectory::Commit(const std::vector<THostRow>& rows) {
    if (!SaveRows(rows)) {
        return THostEditResult::StoreFailed;
    }
    LoadHosts();
    return THostEditResult::Saved;
}

THostEditResult THostDirectory::SaveAsNew() {
    if (IsBlank(m_edits.HostName) || IsBlank(m_edits.Description)) {
        return THostEditResult::NeedHostAndDescription;
    }
    if (IsPortValueName(m_edits.Description)) {
        return THostEditResult::DescriptionHasPortSuffix;
    }
    m_edits.Port = ValidPort(m_edits);
    std::vector<THostRow> rows = m_rows;
    const auto above = rows.empty() ? rows.end() : rows.end() - 1;
    rows.insert(above, m_edits);
    return Commit(rows);
}

THostEditResult THostDirectory::Update() {
    if (IsPortValueName(m_edits.Description)) {
        return THostEditResult::DescriptionHasPortSuffix;
    }
    std::vector<THostRow> rows = m_rows;
    if (HasCurrentRow()) {
        // A rename onto another entry's name replaces that entry, instead of
        // leaving two of one name for the save to choose between.
        const std::string name = m_store.FoldCase(m_edits.Description);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (static_cast<int>(i) + 1 != m_currentRow &&
                m_store.FoldCase(rows[i].Description) == name) {
                rows[i].HostName.clear();
                rows[i].Port.clear();
            }
        }
        rows[static_cast<std::size_t>(m_currentRow - 1)] = m_edits;
    }
    return Commit(rows);
}

THostEditResult THostDirectory::Delete() {
    std::vector<THostRow> rows = m_rows;
    if (HasCurrentRow()) {
        THostRow& row = rows[static_cast<std::size_t>(m_currentRow - 1)];
        row.HostName.clear();
        row.Port.clear();
    }
    return Commit(rows);
}

void THostDirectory::Connect() {
    if (HasCurrentRow()) {
        m_chosen = Row(m_currentRow);
        m_chosen.Columns = ValidColumns(m_chosen.Columns);
        m_chosen.ConnectTimeout = ValidConnectTimeout(m_chosen.ConnectTimeout);
    } else {
        m_chosen = THostRow{};
    }
}

int THostDirectory::ValidConnectTimeout(int seconds) {
    return seconds >= 1 && seconds <= kMaxConnectTimeout ? seconds : kDefaultConnectTimeout;
}

int THostDirectory::ParseConnectTimeout(std::string_view stored) {
    const std::string trimmed = TrimBlanks(stored);
    if (trimmed.empty() || trimmed.size() > 4 || !IsInteger(trimmed)) {
        return kDefaultConnectTimeout;
    }
    return ValidConnectTimeout(std::stoi(trimmed));
}

} // namespace telvora
