#include "directory/directory_files.h"

#include "common/text_helpers.h"
#include "common/whole_file.h"
#include "directory/directory_lists.h"
#include "directory/login_keyring.h"

#include <stdexcept>

namespace telvora {

namespace {

// Far more than the largest published BBS list.
constexpr std::size_t kMaxListFileBytes = 8u << 20;

bool EndsWithNoCase(const std::string& text, std::string_view end) {
    return text.size() >= end.size() && LowerAscii(text.substr(text.size() - end.size())) == end;
}

// Where an entry calls: a host and its port, a serial line's device and
// settings, or the number a modem dials and the line it is on.
std::string EntryAddressText(const THostRow& row) {
    if (!THostDirectory::IsSerialLine(row.Protocol)) {
        return row.HostName + ":" + row.Port;
    }
    const std::string line = row.HostName + " (" + row.Port + ")";
    return row.Protocol == THostProtocol::Modem ? row.Modem.Number + " on " + line : line;
}

bool HasUserName(const THostDirectory& directory, const std::string& name) {
    const int row = directory.FindRow(name);
    return row != 0 && !directory.Row(row).UserName.empty();
}

} // namespace

std::string TImportResult::Summary(const std::string& path) const {
    std::string text = "Took " + std::to_string(Added + Updated) + " entries (" +
                       std::to_string(Added) + " new, " + std::to_string(Updated) +
                       " updated) and skipped " + std::to_string(Skipped) + " from " + path + ".";
    if (PasswordsNotKept > 0) {
        text += " " + std::to_string(PasswordsNotKept) +
                " passwords were not kept: no keyring runs; they are asked when the board is "
                "called.";
    }
    return text;
}

TImportResult ImportDirectoryFile(TSettingsStore& store, const std::string& path,
                                  const TLoginKeyring* keyring) {
    TImportResult result;
    TListImport list;
    try {
        list = ParseDirectoryList(ReadWholeFile(path, kMaxListFileBytes));
    } catch (const std::exception& error) {
        result.Error = error.what();
        return result;
    }
    result.Skipped = list.Skipped;
    std::vector<THostRow> rows;
    rows.reserve(list.Entries.size());
    for (const TListEntry& entry : list.Entries) {
        rows.push_back(entry.Row);
    }
    THostDirectory directory(store);
    THostDirectory::TMergeCounts counts;
    if (!directory.Merge(rows, counts)) {
        result.Error = "The host directory could not be saved. Nothing was changed.";
        return result;
    }
    result.Added = counts.Added;
    result.Updated = counts.Updated;
    for (const TListEntry& entry : list.Entries) {
        // A login is a user name and its password: a password alone is never
        // sent, and would stay in the keyring after its entry is deleted. The
        // user name may be one the entry kept, where the list gives none.
        if (!entry.Password.empty() && HasUserName(directory, entry.Row.Description) &&
            (keyring == nullptr ||
             !keyring->WritePassword(entry.Row.Description, entry.Password))) {
            ++result.PasswordsNotKept;
        }
    }
    result.Ok = true;
    return result;
}

void ExportDirectoryFile(const std::vector<THostRow>& rows, const std::string& path) {
    WriteWholeFile(path,
                   EndsWithNoCase(path, ".csv") ? WriteDirectoryCsv(rows) : WriteBbsListIni(rows));
}

std::optional<THostRow> FindDirectoryEntry(TSettingsStore& store, const std::string& name) {
    THostDirectory directory(store);
    directory.LoadHosts();
    const int row = directory.FindRow(name);
    if (row == 0) {
        return std::nullopt;
    }
    THostRow entry = directory.Row(row);
    entry.Columns = THostDirectory::ValidColumns(entry.Columns);
    entry.ConnectTimeout = THostDirectory::ValidConnectTimeout(entry.ConnectTimeout);
    return entry;
}

std::string ListDirectoryEntries(TSettingsStore& store, std::string& problem) {
    THostDirectory directory(store);
    directory.LoadHosts();
    problem = directory.LoadProblem();
    std::string text;
    for (const THostRow& row : directory.Rows()) {
        if (TrimBlanks(row.HostName).empty()) {
            continue;
        }
        text += row.Description + "\t" + std::string(THostDirectory::ProtocolName(row.Protocol)) +
                "\t" + EntryAddressText(row) + "\t" +
                std::string(THostDirectory::ColumnsName(row.Columns)) + "\t" +
                std::to_string(row.Calls) + "\t" + (row.LastCall.empty() ? "-" : row.LastCall) +
                "\n";
    }
    return text;
}

} // namespace telvora
