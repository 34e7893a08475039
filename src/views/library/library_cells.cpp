#include "views/library/library_cells.h"

#include "views/kit/design_scale_layout.h"
#include "views/kit/theme.h"
#include "views/library/library_symbols.h"
#include "views/library/library_table_model.h"
#include "views/library/library_texts.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QTextDocument>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace tampod {

using namespace LibraryColumns;

namespace LibraryCells {

bool isBusy(const LibraryRow &row)
{
    return row.bpmStatus.has_value();
}

bool showsGet(const LibraryRow &row)
{
    return !isBusy(row) && row.bpm == LibraryText::emDash;
}

// The BPM cell's parts keep fixed pixel sizes at every scale.
QRect getRect(const QRect &cell)
{
    return QRect(cell.x() + 2, cell.y() + (cell.height() - 22) / 2, std::max(cell.width() - 4, 0), 22);
}

QRect progressRect(const QRect &cell)
{
    return QRect(cell.x() + 2, cell.y() + cell.height() / 2 - 3, std::max(cell.width() - 15, 0), 6);
}

QRect cancelRect(const QRect &cell)
{
    return QRect(cell.x() + cell.width() - 13, cell.y() + cell.height() / 2 - 9, 13, 18);
}

QRect checkRect(const QRect &cell, double s)
{
    const int side = std::max(1, qRound(LibraryColumns::fontSize * s));
    return QRect(cell.x() + (cell.width() - side) / 2, cell.y() + (cell.height() - side) / 2, side, side);
}

Part hit(const LibraryRow &row, int column, const QRect &cell, QPoint point, double)
{
    if (!cell.contains(point))
        return Part::none;
    if (column == exportCheck)
        return Part::check; // the whole cell toggles, as the table's own click rule says
    if (column != bpm)
        return Part::none;
    if (showsGet(row) && getRect(cell).contains(point))
        return Part::get;
    if (isBusy(row) && cancelRect(cell).contains(point))
        return Part::cancel;
    return Part::none;
}

QString busyText(const LibraryRow &row)
{
    const double progress = row.bpmStatus ? row.bpmStatus->progress : 0;
    const double percent = std::isfinite(progress) ? std::trunc(std::clamp(progress, 0.0, 1.0) * 100) : 0;
    return (row.bpmStatus && row.bpmStatus->queued ? LibraryText::queued : LibraryText::detecting) +
           QStringLiteral(" — ") + QString::number(static_cast<int>(percent)) + QStringLiteral("%");
}

QString toolTip(const LibraryRow &row, int column, const QRect &cell, QPoint point, double s)
{
    switch (column) {
    case exportCheck:
        return row.linkedChannel ? LibraryText::linkedCheckHelp : LibraryText::checkHelp.arg(row.name);
    case bpm:
        if (showsGet(row) && hit(row, column, cell, point, s) == Part::get)
            return row.canDetectBPM ? LibraryText::getHelp + row.name : LibraryText::getUnavailableHelp;
        if (isBusy(row))
            return hit(row, column, cell, point, s) == Part::cancel ? LibraryText::cancelHelp : busyText(row);
        return row.help;
    default:
        return row.help;
    }
}

QString accessibleText(const LibraryRow &row, int column, bool checked)
{
    switch (column) {
    case exportCheck: {
        const QString label = row.linkedChannel ? LibraryText::exportLinkedLabel.arg(*row.linkedChannel) + row.name
                                                : LibraryText::exportLabel + row.name;
        return label + (checked ? QStringLiteral(", checked") : QStringLiteral(", unchecked"));
    }
    case name: return row.name;
    case bpm:
        if (isBusy(row))
            return (row.bpmStatus->queued ? LibraryText::queued : LibraryText::detecting) + QStringLiteral(": ") + row.name;
        return showsGet(row) ? LibraryText::getLabel + row.name : row.bpm;
    case sampleRate: return row.sampleRate;
    case bits: return row.resolution;
    case repeat:
        if (!row.repeatSymbol)
            return {};
        return *row.repeatSymbol == RepeatSymbol::repeatOne ? LibraryText::sectionRepeat : LibraryText::wholeFileRepeat;
    case duration: return row.duration;
    case type: return row.type;
    default: return {};
    }
}

} // namespace LibraryCells

namespace {

QFont cellFont(double size, double s)
{
    QFont font = QApplication::font();
    font.setWeight(QFont::Medium);
    return DesignScaleLayout::scaledFont(font, size, s);
}

void paintBPM(QPainter &p, const LibraryRow &row, const QRect &cell, double s)
{
    using namespace LibraryCells;
    if (isBusy(row)) {
        const QRectF bar = progressRect(cell);
        const double progress = std::clamp(row.bpmStatus->progress, 0.0, 1.0);
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::border);
        p.drawRoundedRect(bar, 3, 3);
        if (progress > 0) {
            p.setBrush(Theme::accent);
            p.drawRoundedRect(QRectF(bar.x(), bar.y(), bar.width() * progress, bar.height()), 3, 3);
        }
        QFont mark = QApplication::font();
        mark.setPixelSize(15);
        p.setFont(mark);
        p.setPen(Theme::libraryText);
        p.drawText(cancelRect(cell), Qt::AlignCenter, LibraryText::cancelMark);
        return;
    }
    if (!showsGet(row)) {
        p.setFont(cellFont(fontSize, s));
        p.setPen(Theme::libraryText);
        p.drawText(cell, Qt::AlignCenter, row.bpm);
        return;
    }
    const QRectF button = QRectF(getRect(cell)).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = 4 * s;
    p.setPen(QPen(Theme::libraryGetBorder, 1));
    p.setBrush(Theme::libraryGetFace);
    p.drawRoundedRect(button, radius, radius);
    QColor title = Theme::libraryGetTitle;
    title.setAlphaF(row.canDetectBPM ? 1.0f : 0.4f);
    p.setPen(title);
    p.setFont(cellFont(23, s));
    p.drawText(getRect(cell), Qt::AlignCenter, LibraryText::get);
}

void paintCheck(QPainter &p, const LibraryRow &row, bool checked, const QRect &cell, double s)
{
    const QPointF centre = QRectF(cell).center();
    const double size = fontSize * s;
    p.setPen(Qt::NoPen);
    p.setBrush(checked ? Theme::accent : Theme::libraryUnchecked);
    p.drawPath(checked ? LibrarySymbols::checkedSquare(centre, size) : LibrarySymbols::square(centre, size));
    if (!row.linkedChannel)
        return;
    // Each channel row draws half of one mark, on the edge it shares with its partner.
    const double edge = *row.linkedChannel == QLatin1String("L") ? cell.y() + cell.height() : cell.y();
    p.save();
    p.setClipRect(cell);
    p.setBrush(Theme::accent);
    p.drawPath(LibrarySymbols::link(QPointF(centre.x(), edge), 18 * s));
    p.restore();
}

} // namespace

void LibraryCellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const auto *model = qobject_cast<const LibraryTableModel *>(index.model());
    if (!model || index.row() >= model->rowCount())
        return;
    const LibraryRow &row = model->row(index.row());
    const double s = model->scale();
    const QRect cell = option.rect;
    QPainter &p = *painter;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (option.state & QStyle::State_Selected) {
        const auto group = option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        p.fillRect(cell, option.palette.color(group, QPalette::Highlight));
    }
    switch (index.column()) {
    case exportCheck:
        paintCheck(p, row, model->isChecked(index.row()), cell, s);
        break;
    case bpm:
        paintBPM(p, row, cell, s);
        break;
    case repeat:
        if (row.repeatSymbol) {
            p.setPen(Qt::NoPen);
            p.setBrush(Theme::accent);
            p.drawPath(LibrarySymbols::repeat(QRectF(cell).center(), fontSize * s,
                                              *row.repeatSymbol == RepeatSymbol::repeatOne));
        }
        break;
    default: {
        const QFont font = cellFont(fontSize, s);
        p.setFont(font);
        p.setPen(Theme::libraryText);
        const bool isName = index.column() == name;
        const QRect text = isName ? cell.adjusted(qRound(nameInset * s), 0, 0, 0) : cell;
        const QString shown = QFontMetrics(font).elidedText(index.data().toString(), Qt::ElideRight, text.width());
        p.drawText(text, (isName ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter | Qt::TextSingleLine, shown);
        break;
    }
    }
    p.restore();
}

QSize LibraryCellDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const
{
    const auto *model = qobject_cast<const LibraryTableModel *>(index.model());
    const double s = model ? model->scale() : 1;
    return QSize(qRound(widths[static_cast<size_t>(std::clamp(index.column(), 0, count - 1))] * s),
                 qRound(rowHeight * s));
}

bool LibraryCellDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                    const QModelIndex &index)
{
    const auto *model = qobject_cast<const LibraryTableModel *>(index.model());
    if (!event || !view || event->type() != QEvent::ToolTip || !model || index.row() >= model->rowCount())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QString tip = LibraryCells::toolTip(model->row(index.row()), index.column(), option.rect, event->pos(),
                                              model->scale());
    if (tip.isEmpty()) {
        QToolTip::hideText();
        return true;
    }
    // File names are plain text even when they look like markup; line breaks stay.
    const QString shown = Qt::mightBeRichText(tip) ? Qt::convertFromPlainText(tip, Qt::WhiteSpaceNormal) : tip;
    QToolTip::showText(event->globalPos(), shown, view->viewport(), option.rect);
    return true;
}

} // namespace tampod
