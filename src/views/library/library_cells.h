#pragma once

#include "views/library/library_row.h"

#include <QRect>
#include <QString>
#include <QStyledItemDelegate>

namespace tampod {

// How each library cell looks, what part of it a point hits and what it tells: the Export
// check with a linked pair's link mark, the BPM cell (tempo, Get, or detection progress with
// ×), the Repeat mark and the text cells. Geometry is in the cell's pixels.
namespace LibraryCells {

enum class Part { none, check, get, cancel };

// The BPM cell shows its progress and × while a detection is queued or running.
bool isBusy(const LibraryRow &row);
// Idle without a tempo: the cell offers Get (enabled or not).
bool showsGet(const LibraryRow &row);

QRect getRect(const QRect &cell);
QRect progressRect(const QRect &cell);
QRect cancelRect(const QRect &cell);
QRect checkRect(const QRect &cell, double s);

Part hit(const LibraryRow &row, int column, const QRect &cell, QPoint point, double s);
// Plain text; the caller escapes it for the tool tip.
QString toolTip(const LibraryRow &row, int column, const QRect &cell, QPoint point, double s);
QString accessibleText(const LibraryRow &row, int column, bool checked);
// "Queued — 0%", "Detecting BPM — 42%".
QString busyText(const LibraryRow &row);

} // namespace LibraryCells

// Draws every cell of the library table from the table model's rows. thread: main only.
class LibraryCellDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;
};

} // namespace tampod
