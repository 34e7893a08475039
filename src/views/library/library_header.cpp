#include "views/library/library_header.h"

#include "views/kit/design_scale_layout.h"
#include "views/kit/theme.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/library/library_symbols.h"
#include "views/library/library_texts.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>

namespace tampod {

using namespace LibraryColumns;

LibraryHeader::LibraryHeader(QWidget *parent)
    : QWidget(parent), checkMark_(new QWidget(this)), repeatMark_(new QWidget(this))
{
    checkMark_->setAccessibleName(LibraryText::checkedHeaderLabel);
    setPlainToolTip(checkMark_, LibraryText::checkedHeaderHelp);
    repeatMark_->setAccessibleName(LibraryText::repeatHeaderLabel);
}

void LibraryHeader::setColumns(const std::array<int, count + 1> &edges, double s)
{
    if (edges == edges_ && s == scale_)
        return;
    edges_ = edges;
    scale_ = s;
    checkMark_->setGeometry(columnRect(exportCheck));
    repeatMark_->setGeometry(columnRect(repeat));
    update();
}

QRect LibraryHeader::columnRect(int column) const
{
    return QRect(edges_[static_cast<size_t>(column)], 0,
                 edges_[static_cast<size_t>(column) + 1] - edges_[static_cast<size_t>(column)], height());
}

QList<int> LibraryHeader::separators() const
{
    QList<int> xs;
    for (int c = bpm; c < count; ++c)
        if (c != repeat)
            xs.append(edges_[static_cast<size_t>(c)]);
    return xs;
}

void LibraryHeader::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, height());
    fill.setColorAt(0, Theme::libraryHeaderTop);
    fill.setColorAt(1, Theme::background);
    p.fillRect(rect(), fill);

    const double s = scale_;
    const double symbolSize = fontSize * s;
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::libraryHeaderText);
    p.drawPath(LibrarySymbols::checkedSquare(QRectF(columnRect(exportCheck)).center(), symbolSize));
    p.drawPath(LibrarySymbols::repeat(QRectF(columnRect(repeat)).center(), symbolSize, false));

    QFont font = DesignScaleLayout::scaledFont(QApplication::font(), fontSize, s);
    QFont title = font;
    title.setWeight(QFont::DemiBold);
    p.setPen(Theme::libraryHeaderText);
    p.setFont(title);
    p.drawText(columnRect(name).adjusted(qRound(nameInset * s), 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf8(titles[name]));

    p.setFont(font);
    const int separator = std::max(1, qRound(separatorHeight * s));
    for (int c = bpm; c < count; ++c) {
        if (c == repeat)
            continue;
        const QRect frame = columnRect(c);
        const bool centred = c == sampleRate || c == bits;
        const QRect text = centred ? frame : frame.adjusted(qRound(10 * s) + 1, 0, 0, 0);
        p.setPen(Theme::libraryHeaderText);
        p.drawText(text, (centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter,
                   QString::fromUtf8(titles[static_cast<size_t>(c)]));
        p.fillRect(QRect(frame.x(), (height() - separator) / 2, 1, separator), Theme::border);
    }
}

} // namespace tampod
