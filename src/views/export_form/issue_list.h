#pragma once

#include <QPainterPath>
#include <QStringList>
#include <QWidget>

class QVBoxLayout;

namespace tampod {

// The blocking issues of an export draft: one yellow row with a warning sign per text, in
// order; nothing for none.
class IssueList : public QWidget {
    Q_OBJECT

public:
    explicit IssueList(QWidget *parent = nullptr);

    void setIssues(const QStringList &issues);
    const QStringList &issues() const { return issues_; }

    // The warning sign, a filled rounded triangle with the exclamation mark cut out.
    static QPainterPath warningSign(const QRectF &rect);

private:
    QStringList issues_;
    QVBoxLayout *rows_;
};

} // namespace tampod
