#pragma once

#include "directory/host_directory.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace telvora {

// Host lists brought from other terminals and taken to them: the common
// BBS-list INI form (a section per board, named after it, with Address,
// Port, ConnectionType, UserName, Password, ScreenMode, TotalCalls and
// LastConnected; other keys are left alone) and CSV (name, kind, address,
// port, width). A board without a ConnectionType is taken as Telnet.

// The entry kind of a list's connection type (letter case aside); nullopt
// for kinds this directory has no entry for (SSH, RLogin, Modem, ...).
std::optional<THostProtocol> EntryKindOfListType(std::string_view type);

struct TListEntry {
    THostRow Row;
    // Only ever handed to the keyring.
    std::string Password;
};

struct TListImport {
    std::vector<TListEntry> Entries;
    // Boards of a kind we do not have, or without a name or an address.
    int Skipped = 0;
};

// Longest line and most boards read; the rest is skipped and counted.
inline constexpr std::size_t kMaxListLine = 4096;
inline constexpr std::size_t kMaxListEntries = 10000;

TListImport ParseBbsListIni(std::string_view text);
TListImport ParseDirectoryCsv(std::string_view text);
// INI when the first line that is not blank or a comment opens a section.
TListImport ParseDirectoryList(std::string_view text);

// Without passwords: they never leave the keyring as text. Entries whose
// host name is blank are left out.
std::string WriteBbsListIni(const std::vector<THostRow>& rows);
std::string WriteDirectoryCsv(const std::vector<THostRow>& rows);

} // namespace telvora
