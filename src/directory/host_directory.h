#pragma once

#include "directory/settings_store.h"

#include <string>
#include <string_view>
#include <vector>

namespace telvora {

// One line of the host list, or the contents of the three edit boxes.
struct THostRow {
    std::string HostName;
    std::string Port;
    std::string Description;

    bool operator==(const THostRow&) const = default;
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
    // Takes the current row's stored host name and port (not the edit boxes).
    void Connect();

    const std::string& ChosenHost() const { return m_chosenHost; }
    const std::string& ChosenPort() const { return m_chosenPort; }

    static bool IsInteger(std::string_view text);
    static bool IsPortValueName(std::string_view name);

private:
    bool SaveRows(const std::vector<THostRow>& rows);
    bool HasCurrentRow() const { return m_currentRow >= 1 && m_currentRow <= RowCount(); }
    THostEditResult Commit(const std::vector<THostRow>& rows);

    TSettingsStore& m_store;
    std::vector<THostRow> m_rows;
    int m_currentRow = 0;
    THostRow m_edits{"", std::string(kDefaultPort), ""};
    std::string m_chosenHost;
    std::string m_chosenPort;
};

} // namespace telvora
