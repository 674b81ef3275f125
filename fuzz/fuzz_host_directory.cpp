// Value names and values as another program might leave them in the store:
// one "name<TAB>value" per line, a line without a tab being a value of
// another type. Loading must list them by the rules, and a save followed by a
// load must keep every complete entry, its type and width included.
#include "common/text_helpers.h"
#include "directory/host_directory.h"
#include "directory/memory_settings_store.h"
#include "directory/value_name_codec.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using telvora::THostDirectory;
using telvora::THostRow;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::vector<THostRow> CompleteRows(const THostDirectory& directory) {
    std::vector<THostRow> rows;
    for (const THostRow& row : directory.Rows()) {
        if (!telvora::TrimBlanks(row.HostName).empty() && !telvora::TrimBlanks(row.Port).empty()) {
            rows.push_back(row);
        }
    }
    return rows;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    telvora::TMemorySettingsStore store;
    std::size_t start = 0;
    while (start <= input.size()) {
        const std::size_t end = std::min(input.find('\n', start), input.size());
        const std::string_view line = input.substr(start, end - start);
        const std::size_t tab = line.find('\t');
        const std::string_view name = line.substr(0, tab);
        Check(telvora::UnescapeValueName(telvora::EscapeValueName(name)) == name);
        telvora::UnescapeValueName(line);
        if (tab == std::string_view::npos) {
            store.PutNonString(THostDirectory::kDirectoryKey, name);
        } else {
            store.PutString(THostDirectory::kDirectoryKey, name, line.substr(tab + 1));
        }
        start = end + 1;
    }

    THostDirectory directory(store);
    directory.LoadHosts();
    Check(directory.RowCount() >= 1);
    Check(directory.CurrentRow() == 1);
    for (int row = 1; row <= directory.RowCount(); ++row) {
        Check(!THostDirectory::IsPortValueName(directory.Row(row).Description));
        // Whatever a width value holds, a row is 40 or 80 columns wide.
        const int columns = directory.Row(row).Columns;
        Check(columns == THostDirectory::kNarrowColumns || columns == THostDirectory::kWideColumns);
        if (row > 1) {
            Check(telvora::LowerAscii(directory.Row(row - 1).Description) <=
                      telvora::LowerAscii(directory.Row(row).Description) ||
                  (row == directory.RowCount() && directory.Row(row) == THostRow{}));
        }
    }

    const std::vector<THostRow> complete = CompleteRows(directory);
    Check(directory.SaveHosts());
    directory.LoadHosts();
    Check(CompleteRows(directory) == complete);
    Check(directory.Row(directory.RowCount()) == THostRow{});
    return 0;
}
