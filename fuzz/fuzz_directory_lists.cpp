// A BBS list or CSV file as anyone might write it. Parsing never fails
// hard; every board taken is one the directory can keep, and writing the
// boards taken and reading them back gives the same boards, with their
// ports or line settings.
#include "common/text_helpers.h"
#include "directory/directory_lists.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const telvora::TListImport list = telvora::ParseDirectoryList(text);
    std::vector<telvora::THostRow> rows;
    for (const telvora::TListEntry& entry : list.Entries) {
        Check(!telvora::TrimBlanks(entry.Row.HostName).empty());
        Check(!telvora::THostDirectory::IsPortValueName(entry.Row.Description));
        rows.push_back(entry.Row);
    }
    const telvora::TListImport csv = telvora::ParseDirectoryCsv(telvora::WriteDirectoryCsv(rows));
    Check(csv.Entries.size() == rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Check(csv.Entries[i].Row.HostName == rows[i].HostName);
        Check(csv.Entries[i].Row.Protocol == rows[i].Protocol);
        Check(csv.Entries[i].Row.Port == rows[i].Port);
    }
    return 0;
}
