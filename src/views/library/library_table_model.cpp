#include "views/library/library_table_model.h"

#include "views/library/library_cells.h"

namespace tampod {

using namespace LibraryColumns;

LibraryTableModel::LibraryTableModel(QObject *parent) : QAbstractTableModel(parent) {}

bool LibraryTableModel::apply(std::vector<LibraryRow> rows, QSet<QUuid> checked, double scale)
{
    const bool structural =
        scale != scale_ || rows.size() != rows_.size() ||
        !std::equal(rows.cbegin(), rows.cend(), rows_.cbegin(), [](const auto &a, const auto &b) { return a.id == b.id; });
    if (structural) {
        beginResetModel();
        rows_ = std::move(rows);
        indexes_.clear();
        indexes_.reserve(static_cast<qsizetype>(rows_.size()));
        for (int r = 0; r < static_cast<int>(rows_.size()); ++r)
            indexes_.insert(rows_[static_cast<size_t>(r)].id, r);
        checked_ = std::move(checked);
        scale_ = scale;
        endResetModel();
        return true;
    }
    std::swap(rows_, rows);
    std::swap(checked_, checked);
    const std::vector<LibraryRow> &previous = rows;
    const QSet<QUuid> &wasChecked = checked;
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
        const LibraryRow &before = previous[static_cast<size_t>(r)];
        changed(r, before, wasChecked.contains(before.id) != checked_.contains(before.id));
    }
    return false;
}

bool LibraryTableModel::update(std::vector<LibraryRow> rows)
{
    QList<int> at;
    for (const LibraryRow &row : rows) {
        const int r = indexes_.value(row.id, -1);
        if (r < 0)
            return false;
        at.append(r);
    }
    for (qsizetype i = 0; i < at.size(); ++i) {
        LibraryRow &now = rows_[static_cast<size_t>(at[i])];
        std::swap(now, rows[static_cast<size_t>(i)]);
        changed(at[i], rows[static_cast<size_t>(i)], false);
    }
    return true;
}

void LibraryTableModel::changed(int r, const LibraryRow &before, bool checkChanged)
{
    const LibraryRow &now = rows_[static_cast<size_t>(r)];
    if (now == before) {
        if (checkChanged)
            Q_EMIT dataChanged(index(r, exportCheck), index(r, exportCheck));
    } else if (now.sameBesidesBPM(before) && !checkChanged) {
        Q_EMIT dataChanged(index(r, bpm), index(r, bpm));
    } else {
        Q_EMIT dataChanged(index(r, 0), index(r, count - 1));
    }
}

int LibraryTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int LibraryTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count;
}

QVariant LibraryTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const LibraryRow &r = row(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case name: return r.name;
        case bpm: return r.bpm;
        case sampleRate: return r.sampleRate;
        case bits: return r.resolution;
        case duration: return r.duration;
        case type: return r.type;
        default: return {};
        }
    case Qt::AccessibleTextRole:
        return LibraryCells::accessibleText(r, index.column(), isChecked(index.row()));
    case Qt::CheckStateRole:
        if (index.column() == exportCheck)
            return isChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
        return {};
    default:
        return {};
    }
}

QVariant LibraryTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < count)
        return QString::fromUtf8(titles[static_cast<size_t>(section)]);
    return {};
}

Qt::ItemFlags LibraryTableModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace tampod
