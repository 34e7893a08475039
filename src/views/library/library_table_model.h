#pragma once

#include "views/library/library_row.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QSet>
#include <QUuid>

#include <vector>

namespace tampod {

// The rows the library table shows, reconciled with every update so that the view does as
// little as possible: nothing for an identical update, the BPM cell alone when only the tempo
// or its detection moved, the whole row for any other change of a row, and a reset when the
// rows' order or the scale changed. thread: main only.
class LibraryTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit LibraryTableModel(QObject *parent = nullptr);

    // Returns whether the update was structural (a reset).
    bool apply(std::vector<LibraryRow> rows, QSet<QUuid> checked, double scale);
    // Reconciles the given rows as apply does, each with the row of its id, and leaves every
    // other row alone, at a cost that does not grow with the table. Changes nothing and
    // returns false when one of them is not in the table.
    bool update(std::vector<LibraryRow> rows);

    const std::vector<LibraryRow> &rows() const { return rows_; }
    const LibraryRow &row(int index) const { return rows_[static_cast<size_t>(index)]; }
    bool isChecked(int index) const { return checked_.contains(row(index).id); }
    double scale() const { return scale_; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    // Announces what changed in row r, now showing rows_[r], from before.
    void changed(int r, const LibraryRow &before, bool checkChanged);

    std::vector<LibraryRow> rows_;
    QHash<QUuid, int> indexes_; // of rows_ by id
    QSet<QUuid> checked_;
    double scale_ = 1;
};

} // namespace tampod
