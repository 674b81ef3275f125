#include "directory/host_table_model.h"

namespace telvora {

namespace {

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The empty last row, where a new entry can be typed, is no host yet and has
// no type or width to show.
bool IsEmptyRow(const THostRow& row) {
    return row.HostName.empty() && row.Port.empty() && row.Description.empty();
}

QString Cell(const THostRow& row, int column) {
    switch (column) {
    case 0:
        return Text(row.HostName);
    case 1:
        return Text(row.Port);
    case 2:
        return Text(row.Description);
    case THostTableModel::kTypeColumn:
        return IsEmptyRow(row) ? QString() : Text(THostDirectory::ProtocolName(row.Protocol));
    case THostTableModel::kColumnsColumn:
        return IsEmptyRow(row) ? QString() : Text(THostDirectory::ColumnsName(row.Columns));
    case THostTableModel::kCallsColumn:
        return IsEmptyRow(row) ? QString() : QString::number(row.Calls);
    case THostTableModel::kLastCallColumn:
        return Text(row.LastCall);
    case THostTableModel::kTimeoutColumn:
        return IsEmptyRow(row)
                   ? QString()
                   : QString::number(THostDirectory::ValidConnectTimeout(row.ConnectTimeout));
    default:
        return {};
    }
}

} // namespace

int THostTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_directory.RowCount();
}

int THostTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant THostTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_directory.RowCount()) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return Cell(m_directory.Row(index.row() + 1), index.column());
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
        return {};
    }
}

QVariant THostTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (section) {
    case 0:
        return QStringLiteral("Hostname");
    case 1:
        return QStringLiteral("Port");
    case 2:
        return QStringLiteral("Description");
    case kTypeColumn:
        return QStringLiteral("Type");
    case kColumnsColumn:
        return QStringLiteral("Cols");
    case kTimeoutColumn:
        return QStringLiteral("Secs");
    case kCallsColumn:
        return QStringLiteral("Calls");
    case kLastCallColumn:
        return QStringLiteral("Last Call");
    default:
        return {};
    }
}

void THostTableModel::Reload() {
    beginResetModel();
    endResetModel();
}

} // namespace telvora
