#pragma once

#include "directory/host_directory.h"
#include "directory/settings_store.h"

#include <string>
#include <vector>

namespace telvora {

class TLoginKeyring;

// What an import did, for the user.
struct TImportResult {
    bool Ok = false;
    // Why it failed (the file could not be read, the store not written).
    std::string Error;
    int Added = 0;
    int Updated = 0;
    int Skipped = 0;
    // Passwords of the list the keyring could not take (none runs).
    int PasswordsNotKept = 0;
    // "Took N entries (A new, U updated) and skipped S from FILE." and more.
    std::string Summary(const std::string& path) const;
};

// Reads a BBS list (INI) or CSV file into the directory of that store:
// entries whose names exist are updated, the others added; the list's
// passwords go to the keyring when it is given, and nowhere else.
TImportResult ImportDirectoryFile(TSettingsStore& store, const std::string& path,
                                  const TLoginKeyring* keyring);
// The directory into a file: CSV for a name ending in ".csv" (any letter
// case), the BBS list form otherwise. Throws std::runtime_error with a text
// for the user when it cannot be written.
void ExportDirectoryFile(const std::vector<THostRow>& rows, const std::string& path);

// The entry of that name as the directory keeps it; nullopt if none.
std::optional<THostRow> FindDirectoryEntry(TSettingsStore& store, const std::string& name);
// One line an entry: name, kind, address:port, width, calls, last call,
// separated by tabs; the store's problem, if any, goes to problem.
std::string ListDirectoryEntries(TSettingsStore& store, std::string& problem);

} // namespace telvora
