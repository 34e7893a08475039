#include "views/export_form/issue_list.h"

#include "views/export_form/form_text.h"
#include "views/kit/theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace tampod {

namespace {

class WarningSign final : public QWidget {
public:
    explicit WarningSign(QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(13, 12);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(IssueList::warningSign(rect()), Theme::issueText);
    }
};

} // namespace

IssueList::IssueList(QWidget *parent)
    : QWidget(parent)
    , rows_(new QVBoxLayout(this))
{
    rows_->setContentsMargins(0, 0, 0, 0);
    rows_->setSpacing(4);
    setVisible(false);
}

void IssueList::setIssues(const QStringList &issues)
{
    if (issues == issues_)
        return;
    issues_ = issues;
    while (QLayoutItem *item = rows_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const QString &issue : issues) {
        auto *row = new QWidget(this);
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(6);
        layout->addWidget(new WarningSign(row), 0, Qt::AlignTop);
        QLabel *text = FormText::label(issue, TextStyle::caption, false, row);
        QPalette palette = text->palette();
        palette.setColor(QPalette::WindowText, Theme::issueText);
        text->setPalette(palette);
        layout->addWidget(text, 1);
        rows_->addWidget(row);
    }
    setVisible(!issues.isEmpty());
}

QPainterPath IssueList::warningSign(const QRectF &rect)
{
    // On a 26 × 24 grid, fitted and centred.
    const double s = std::min(rect.width() / 26, rect.height() / 24);
    const QPointF origin = rect.center() - QPointF(13 * s, 12 * s);
    const auto at = [&](double x, double y) { return origin + QPointF(x * s, y * s); };
    QPainterPath triangle;
    triangle.moveTo(at(11.3, 1.5));
    triangle.quadTo(at(13, -0.5), at(14.7, 1.5));
    triangle.lineTo(at(25.5, 20.8));
    triangle.quadTo(at(26.5, 23.5), at(23.6, 23.5));
    triangle.lineTo(at(2.4, 23.5));
    triangle.quadTo(at(-0.5, 23.5), at(0.5, 20.8));
    triangle.closeSubpath();
    QPainterPath mark;
    mark.addRoundedRect(QRectF(at(11.6, 7), at(14.4, 16.5)), 1.4 * s, 1.4 * s);
    mark.addEllipse(QRectF(at(11.5, 18), at(14.5, 21)));
    return triangle.subtracted(mark);
}

} // namespace tampod
