#pragma once

#include "export/export_preview_mode.h"

#include <QPushButton>
#include <QWidget>

class QLabel;

namespace tampod {

class ExportSession;
class RefreshScheduler;

// A preview button: its title after a play or stop symbol, drawn at any scale.
class PreviewModeButton : public QPushButton {
    Q_OBJECT

public:
    PreviewModeButton(const QString &title, QWidget *parent);

    void setPlaying(bool playing);
    bool isPlaying() const { return playing_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool playing_ = false;
};

// "Audition before exporting": Original and Processed, the preparing indicator, why the
// audition is unavailable, the comparison note, the status line and the two notes.
// thread: main only.
class ExportPreviewControls : public QWidget {
    Q_OBJECT

public:
    explicit ExportPreviewControls(ExportSession &session, QWidget *parent = nullptr);

    void refresh();

    PreviewModeButton *button(ExportPreviewMode mode) const;
    QWidget *preparingIndicator() const { return indicator_; }
    QLabel *advisoryLine() const { return advisory_; }
    QLabel *statusLine() const { return status_; }

private:
    void press(ExportPreviewMode mode);

    ExportSession &session_;
    RefreshScheduler *scheduler_;
    PreviewModeButton *original_;
    PreviewModeButton *processed_;
    QWidget *indicator_;
    QLabel *advisory_;
    QLabel *status_;
};

} // namespace tampod
