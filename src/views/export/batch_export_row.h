#pragma once

#include "export/session/batch_export_item.h"

#include <QLabel>
#include <QUuid>
#include <QWidget>

class QProgressBar;

namespace tampod {

// A one-line label that shortens its text in the middle to the width it gets, so that the
// start and the extension of a long file name both stay visible. thread: main only.
class MiddleElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit MiddleElidedLabel(QWidget *parent = nullptr);

    void setFullText(const QString &text);
    const QString &fullText() const { return fullText_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elide();

    QString fullText_;
};

// One file of a batch: its name and state, the file's progress while it exports, and the
// detail text, which can be selected for copying. thread: main only.
class BatchExportRow : public QWidget {
    Q_OBJECT

public:
    // Design points of a row of one line; the batch list is sized in whole rows.
    static constexpr int lineHeight = 36;

    explicit BatchExportRow(QWidget *parent = nullptr);

    void setItem(const BatchExportItem &item);
    const QUuid &id() const { return id_; }
    // A line between this row and the one above.
    void setSeparatorAbove(bool separator);

    MiddleElidedLabel *nameLine() const { return name_; }
    QLabel *stateLine() const { return state_; }
    QProgressBar *progressBar() const { return progress_; }
    QLabel *detailLine() const { return detail_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QUuid id_;
    bool separatorAbove_ = false;
    MiddleElidedLabel *name_;
    QLabel *state_;
    QProgressBar *progress_;
    QLabel *detail_;
};

} // namespace tampod
