#pragma once

#include "connection/serial/hayes_dialer.h"
#include "directory/settings_store.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace telvora {

// How a host is reached: through a Telnet server, which negotiates options
// and escapes byte 255, or through a plain TCP bridge ("Raw") that passes the
// bytes through untouched, as many Atari boards are run today.
enum class THostProtocol {
    Telnet,
    Raw,
    // A serial line: HostName holds the device, Port the line's settings
    // as "19200 8N1 none".
    Serial,
    // A serial line with a modem that dials: as Serial, and Modem says how.
    Modem,
};

// One line of the host list, or the contents of the edit boxes and the two
// choosers. Entries stored before hosts had a type are Telnet hosts, and those
// stored before hosts had a screen width are 40 columns wide, the Atari's own
// screen; 80 columns is the XEP80's.
struct THostRow {
    std::string HostName;
    std::string Port;
    std::string Description;
    THostProtocol Protocol = THostProtocol::Telnet;
    // 40 or 80; a row holding any other width is saved as 40.
    int Columns = 40;
    // Seconds a connect to the host may take before it is given up.
    int ConnectTimeout = 30;
    // A Modem entry's call: its number, init string, dial command and redials.
    TModemSettings Modem{};

    // The login, the calls made and how the board is shown. Entries stored
    // before the directory kept them have none, no calls and the defaults.
    // The password is never here: the keyring keeps it (login_keyring.h).
    std::string UserName{};
    // Empty for the default steps; see login_steps.h for the form.
    std::string LoginSteps{};
    int Calls = 0;
    // The last call's local date and time, "YYYY-MM-DD HH:MM"; empty before the first.
    std::string LastCall{};
    bool EscapeShowsControls = false;
    // The offer to switch a Telnet entry whose board speaks raw TCP was made.
    bool RawOffered = false;

    bool operator==(const THostRow&) const = default;
};

// An address written as a URL: "telnet://[USER@]HOST[:PORT][/]" or the
// same with "raw://", the scheme in any letter case.
struct THostUrl {
    THostProtocol Protocol = THostProtocol::Telnet;
    // Who logs in; a password after a ':' is dropped, never kept as text.
    std::string User;
    // HOST[:PORT] as written.
    std::string HostPort;
};
// nullopt when the text does not begin with one of the two schemes.
std::optional<THostUrl> SplitHostUrl(std::string_view text);
// Whether the text begins with another scheme ("ssh://...").
bool HasOtherScheme(std::string_view text);

// HOST, HOST:PORT, [IPV6]:PORT or an IPv6 address alone, which is taken whole
// as the host: its last group could as well be a port, so a port is only read
// after brackets. The port is "1".."65535" without leading zeros, or empty
// when none is written. nullopt, with what is wrong in problem, when it names
// no host, a port out of range, or a host with blanks or a '/'.
struct THostPort {
    std::string Host; // an IPv6 address without its brackets
    std::string Port;
};
std::optional<THostPort> SplitHostPort(std::string_view text, std::string* problem = nullptr);

// What the list can be sorted by, in the order of the grid's columns.
enum class THostSortKey {
    HostName,
    Port,
    Description,
    Type,
    Columns,
    ConnectTimeout,
    Calls,
    LastCall,
};

// What became of a Save As New, Update or Delete.
enum class THostEditResult {
    Saved,
    // Save As New with a blank host name or description; nothing changed.
    NeedHostAndDescription,
    // The description contains "-PORT", which the loading rule would take for
    // a port value: the entry would vanish from the list and from the next
    // save. Refused; nothing changed.
    DescriptionHasPortSuffix,
    // The store could not be written; it, the list and the current row are as
    // they were.
    StoreFailed,
};

// The rules of the host directory window without the window: the list (data
// rows numbered from 1, like the grid whose row 0 is its header), the row last
// entered, the texts of the three edit boxes, and the results of Connect.
class THostDirectory {
public:
    static constexpr std::string_view kDirectoryKey = "Software\\Marrowby\\Telvora";
    static constexpr std::string_view kPortSuffix = "-PORT";
    static constexpr std::string_view kDefaultPort = "23";
    // A host's type is stored beside its two other values, named by the
    // description followed by this suffix. The suffix contains "-PORT" on
    // purpose: the loading rule (IsPortValueName, here and in every older
    // Telvora) skips every name containing it, so an older version neither
    // lists a type as a host nor lets it fill the list's empty last row, and
    // reads the directory as it always did. Should that rule ever be narrowed
    // to names ending in "-PORT", it must go on skipping these names too. A
    // type value's name ends in "-TYPE", so it never equals a port value's
    // name; a host's own value is named by a description, which holds no
    // "-PORT" (Save As New and Update refuse one, and loading skips one).
    static constexpr std::string_view kProtocolSuffix = "-PORT-TYPE";
    static constexpr std::string_view kTelnetName = "Telnet";
    static constexpr std::string_view kRawName = "Raw";
    // A host's screen width is stored the same way and for the same reasons
    // as its type. Its name ends in "-COLUMNS", so it never equals a port
    // value's name nor a type value's name, whatever the descriptions.
    static constexpr std::string_view kColumnsSuffix = "-PORT-COLUMNS";
    static constexpr int kNarrowColumns = 40;
    static constexpr int kWideColumns = 80;
    // A host's connect timeout in seconds, stored the same way; entries
    // stored before it had one, and unreadable values, take the default.
    static constexpr std::string_view kTimeoutSuffix = "-PORT-TIMEOUT";
    static constexpr int kDefaultConnectTimeout = 30;
    static constexpr int kMaxConnectTimeout = 600;
    // The login, the calls and the rest, stored the same way; each is
    // written only when it differs from what a missing value reads as.
    static constexpr std::string_view kUserSuffix = "-PORT-USER";
    static constexpr std::string_view kLoginStepsSuffix = "-PORT-LOGIN";
    static constexpr std::string_view kCallsSuffix = "-PORT-CALLS";
    static constexpr std::string_view kLastCallSuffix = "-PORT-LASTCALL";
    static constexpr std::string_view kEscapeSuffix = "-PORT-ESCAPE";
    static constexpr std::string_view kRawOfferedSuffix = "-PORT-RAWOFFERED";
    static constexpr std::string_view kSerialName = "Serial";
    static constexpr std::string_view kModemName = "Modem";
    // A Modem entry's call, stored the same way as the type, and only for
    // Modem entries, so that every other entry is stored as before.
    static constexpr std::string_view kNumberSuffix = "-PORT-NUMBER";
    static constexpr std::string_view kInitSuffix = "-PORT-INIT";
    static constexpr std::string_view kDialSuffix = "-PORT-DIAL";
    static constexpr std::string_view kRedialSuffix = "-PORT-REDIAL";

    explicit THostDirectory(TSettingsStore& store) : m_store(store) {}

    // Rebuilds the list from the store (hosts in ascending order of
    // description, then one empty row) and enters row 1.
    void LoadHosts();
    // Rewrites the store from the list; false if it could not be written.
    bool SaveHosts() { return SaveRows(m_rows); }

    int RowCount() const { return static_cast<int>(m_rows.size()); }
    // Row 1..RowCount().
    const THostRow& Row(int row) const { return m_rows.at(static_cast<std::size_t>(row - 1)); }
    const std::vector<THostRow>& Rows() const { return m_rows; }

    // The row became the selected one: the edit boxes show it (port "23" when
    // its cell is empty) and it becomes the current row.
    void EnterRow(int row);
    int CurrentRow() const { return m_currentRow; }

    // The texts of the edit boxes (Edit1, Edit3, Edit2).
    THostRow& Edits() { return m_edits; }
    const THostRow& Edits() const { return m_edits; }

    THostEditResult SaveAsNew();
    THostEditResult Update();
    THostEditResult Delete();
    // Takes the current row's stored host name, port, type and width (not the
    // edit boxes).
    void Connect();

    // Orders the entries by the key (ties by description), the empty last
    // row staying last; the current row stays on its entry. The next
    // LoadHosts lists them by description again.
    void SortRows(THostSortKey key, bool descending);
    // Whether the list is in the order LoadHosts gives it.
    bool IsListedByDescription() const { return !m_sorted; }

    // The data row whose description is this one, as the store compares
    // names; 0 when there is none.
    int FindRow(std::string_view description) const;
    // Whether Save As New would replace an entry of another row.
    bool EditsNameAnEntry() const { return FindRow(m_edits.Description) != 0; }
    // Whether Update would give the current entry another entry's name.
    bool EditsNameAnotherEntry() const {
        const int row = FindRow(m_edits.Description);
        return row != 0 && row != m_currentRow;
    }

    // Loads the list and counts a call of that entry, made at when; false
    // when there is no such entry or the store could not be written.
    bool RecordCall(std::string_view description, const std::string& when);
    // Loads the list and sets one entry as given (found by its description,
    // which it keeps); false when there is none or the store failed.
    bool ChangeEntry(const THostRow& entry);

    // Loads the list, then updates the entries whose names exist already
    // and adds the others; false when the store could not be written.
    struct TMergeCounts {
        int Added = 0;
        int Updated = 0;
    };
    bool Merge(const std::vector<THostRow>& entries, TMergeCounts& counts);

    TSettingsStore& Store() { return m_store; }
    // What was wrong with the store at the last LoadHosts; empty if nothing.
    const std::string& LoadProblem() const { return m_loadProblem; }

    // The entry Connect chose, its width and timeout made valid; an empty
    // one (blank host) when no row was current.
    const THostRow& Chosen() const { return m_chosen; }
    const std::string& ChosenHost() const { return m_chosen.HostName; }
    const std::string& ChosenPort() const { return m_chosen.Port; }
    THostProtocol ChosenProtocol() const { return m_chosen.Protocol; }
    int ChosenColumns() const { return m_chosen.Columns; }
    int ChosenConnectTimeout() const { return m_chosen.ConnectTimeout; }

    static bool IsInteger(std::string_view text);
    static bool IsSerialLine(THostProtocol protocol) {
        return protocol == THostProtocol::Serial || protocol == THostProtocol::Modem;
    }
    // The port box made valid on Save As New: an integer for a TCP host
    // ("23" otherwise), line settings for a serial line (the defaults otherwise).
    static std::string ValidPort(const THostRow& row);
    static bool IsPortValueName(std::string_view name);
    // The type as stored and shown: "Telnet" or "Raw".
    static std::string_view ProtocolName(THostProtocol protocol);
    // A stored type; "Raw", "Serial" or "Modem" in any letter case, with or
    // without spaces around it, is that type, and anything else (missing,
    // empty, unknown, written by a later version) is Telnet, the only kind
    // older entries can be.
    static THostProtocol ParseProtocol(std::string_view stored);
    // 80 stays 80; any other width is 40.
    static int ValidColumns(int columns);
    // The width as stored: "40" or "80".
    static std::string_view ColumnsName(int columns);
    // A stored width; "80", with or without spaces around it, is 80, and
    // anything else (missing, empty, unknown, written by a later version) is
    // 40, the only width older entries can have.
    static int ParseColumns(std::string_view stored);
    // From 1 to kMaxConnectTimeout seconds; anything else is the default.
    static int ValidConnectTimeout(int seconds);
    static int ParseConnectTimeout(std::string_view stored);

private:
    bool SaveRows(const std::vector<THostRow>& rows);
    void ReadKeptFields(const std::string& description, THostRow& row) const;
    void WriteKeptFields(const THostRow& row);
    // Rows to write: non-blank, and of rows with one name only the lowest.
    std::vector<const THostRow*> RowsToWrite(const std::vector<THostRow>& rows) const;
    bool HasCurrentRow() const { return m_currentRow >= 1 && m_currentRow <= RowCount(); }
    THostEditResult Commit(const std::vector<THostRow>& rows);
    static void TakeListedFields(THostRow& kept, const THostRow& listed);
    void LoadModem(THostRow& row);
    void SaveModem(const THostRow& row);

    TSettingsStore& m_store;
    std::vector<THostRow> m_rows;
    int m_currentRow = 0;
    THostRow m_edits{"", std::string(kDefaultPort), ""};
    THostRow m_chosen;
    std::string m_loadProblem;
    bool m_sorted = false;
};

} // namespace telvora
