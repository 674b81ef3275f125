#pragma once

#include "directory/host_directory.h"

#include <QAbstractTableModel>

namespace telvora {

// The host list as the grid shows it: column 0 the host name, 1 the port,
// 2 the description, 3 the type ("Telnet" or "Raw"), 4 the screen width ("40"
// or "80"); view row 0 is the list's row 1.
class THostTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kColumnCount = 8;
    static constexpr int kTypeColumn = 3;
    static constexpr int kColumnsColumn = 4;
    static constexpr int kTimeoutColumn = 5;
    static constexpr int kCallsColumn = 6;
    static constexpr int kLastCallColumn = 7;

    explicit THostTableModel(const THostDirectory& directory, QObject* parent = nullptr)
        : QAbstractTableModel(parent), m_directory(directory) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The directory's list was rebuilt.
    void Reload();

private:
    const THostDirectory& m_directory;
};

} // namespace telvora
