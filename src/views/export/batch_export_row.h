#pragma once

#include "export/session/batch_export_item.h"
#include "views/kit/controls/middle_elided_label.h"

#include <QLabel>
#include <QUuid>
#include <QWidget>

class QProgressBar;

namespace tampod {

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
