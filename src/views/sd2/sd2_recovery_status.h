#pragma once

#include "views/kit/controls/middle_elided_label.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tampod {

class PlayerModel;
class RefreshScheduler;

// The library pane's SD2 status: the selected track's SD2 note, its recovery summary with a
// hint or its job's progress, and the progress of a job running for another track, each
// progress with its Cancel. Blocks that have nothing to show are hidden; the view adds no
// frame of its own, so it sits in the pane's stack as its blocks would. thread: main.
class SD2RecoveryStatus : public QWidget {
    Q_OBJECT

public:
    explicit SD2RecoveryStatus(PlayerModel &player, QWidget *parent = nullptr);

    void refresh();

    // The three blocks and their parts, for tests and screen readers.
    QLabel *note() const { return note_; }
    QWidget *panel() const { return panel_; }
    QLabel *summary() const { return summary_; }
    QLabel *hint() const { return hint_; }
    QProgressBar *progress() const { return progress_; }
    MiddleElidedLabel *progressText() const { return progressText_; }
    QPushButton *cancel() const { return cancel_; }
    QWidget *background() const { return background_; }
    QProgressBar *backgroundProgress() const { return backgroundProgress_; }
    MiddleElidedLabel *backgroundText() const { return backgroundText_; }
    QPushButton *backgroundCancel() const { return backgroundCancel_; }

private:
    PlayerModel &player_;
    QLabel *note_;
    QWidget *panel_;
    QLabel *summary_;
    QLabel *hint_;
    QWidget *progressLine_;
    QProgressBar *progress_;
    MiddleElidedLabel *progressText_;
    QPushButton *cancel_;
    QWidget *background_;
    QProgressBar *backgroundProgress_;
    MiddleElidedLabel *backgroundText_;
    QPushButton *backgroundCancel_;
    RefreshScheduler *scheduler_;
};

} // namespace tampod
