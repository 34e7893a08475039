#include "views/export/batch_export_row.h"

#include "views/export_form/form_text.h"
#include "views/kit/theme.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace tampod {

BatchExportRow::BatchExportRow(QWidget *parent)
    : QWidget(parent)
{
    setMinimumHeight(lineHeight);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 3, 8, 3);
    layout->setSpacing(3);
    // A row of one line sits in the middle of its height.
    layout->addStretch(1);

    auto *line = new QHBoxLayout;
    line->setSpacing(8);
    name_ = new MiddleElidedLabel(this);
    FormText::apply(name_, TextStyle::body);
    line->addWidget(name_, 1);
    state_ = new QLabel(this);
    state_->setTextFormat(Qt::PlainText);
    FormText::apply(state_, TextStyle::caption);
    line->addWidget(state_, 0, Qt::AlignRight | Qt::AlignVCenter);
    layout->addLayout(line);

    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(4);
    progress_->setVisible(false);
    layout->addWidget(progress_);

    detail_ = FormText::label(QString(), TextStyle::caption, true, this);
    detail_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    detail_->setVisible(false);
    layout->addWidget(detail_);
    layout->addStretch(1);
}

void BatchExportRow::setItem(const BatchExportItem &item)
{
    id_ = item.id;
    name_->setFullText(item.name);

    const QString state = RawValue::text(item.state);
    if (state_->text() != state) {
        state_->setText(state);
        QPalette palette = state_->palette();
        palette.setColor(QPalette::WindowText, item.state == BatchExportItem::State::failed ? Theme::failedItemText
                                                                                             : Theme::secondaryText);
        state_->setPalette(palette);
    }

    const bool exporting = item.state == BatchExportItem::State::exporting;
    progress_->setVisible(exporting);
    const double progress = std::isfinite(item.progress) ? std::clamp(item.progress, 0.0, 1.0) : 0.0;
    progress_->setValue(int(std::lround(progress * 1000)));

    detail_->setVisible(!item.detail.isEmpty());
    if (detail_->text() != item.detail)
        detail_->setText(item.detail);
}

void BatchExportRow::setSeparatorAbove(bool separator)
{
    if (separatorAbove_ == separator)
        return;
    separatorAbove_ = separator;
    update();
}

void BatchExportRow::paintEvent(QPaintEvent *)
{
    if (!separatorAbove_)
        return;
    // Inset like the row's text; one pixel whatever the scale.
    QPainter painter(this);
    painter.fillRect(QRect(8, 0, width() - 16, 1), Theme::itemSeparator);
}

} // namespace tampod
