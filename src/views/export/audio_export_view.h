#pragma once

#include "views/export_form/vinyl_controls.h"
#include "views/kit/controls/middle_elided_label.h"
#include "views/kit/dialogs/sheet_dialog.h"

#include <memory>

class QFormLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;

namespace tampod {

class ExportFormatControls;
class ExportPreviewControls;
class ExportResolutionNote;
class ExportSession;
class IssueList;
class LoopExportControls;
class RefreshScheduler;
class TaggedComboBox;

// The sheet in which one recording (a linked pair, or its loop) is exported: a thin view over
// its export session, which it holds for its life. Every way out stops the sheet's audition,
// then cancels a running export, once. thread: main only.
class AudioExportView : public SheetDialog {
    Q_OBJECT

public:
    // The sheet on a session, for SheetHost::of(window).present(); vinyl: what its Vinyl rows
    // take from the window.
    static AudioExportView *make(std::unique_ptr<ExportSession> session, QWidget *window, VinylEnvironment vinyl = {});
    ~AudioExportView() override;

    ExportSession &session() const { return *session_; }

    // Re-reads the session at once (changes are otherwise picked up once per event-loop turn).
    void refresh();

    ExportFormatControls *formatControls() const { return format_; }
    LoopExportControls *loopControls() const { return loop_; }
    ExportPreviewControls *previewControls() const { return preview_; }
    ExportResolutionNote *resolutionNote() const { return resolutionNote_; }
    IssueList *issueList() const { return issues_; }
    TaggedComboBox *pairOutputPicker() const { return pairOutput_; }
    QLineEdit *baseNameField() const { return baseName_; }
    MiddleElidedLabel *nameLine() const { return name_; }
    QLabel *recoveryLine() const { return recovery_; }
    QLabel *playbackNote() const { return playbackNote_; }
    QLabel *bpmLine() const { return bpm_; }
    QProgressBar *progressBar() const { return progress_; }
    QLabel *progressLine() const { return progressLine_; }
    QLabel *messageLine() const { return message_; }
    QPushButton *showInFolderButton() const { return showInFolder_; }
    QPushButton *restoreAccessButton() const { return restoreAccess_; }
    QPushButton *cancelExportButton() const { return cancelExport_; }
    QPushButton *closeButton() const { return close_; }
    QPushButton *defaultButton() const { return default_; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    AudioExportView(std::unique_ptr<ExportSession> session, QWidget *window, VinylEnvironment vinyl);
    void build(VinylEnvironment vinyl);
    // Stops the audition, then cancels a running export; only the first call acts.
    void closeActions();

    std::unique_ptr<ExportSession> session_;
    bool closeActionsRan_ = false; // thread: main
    RefreshScheduler *scheduler_ = nullptr;
    QWidget *content_ = nullptr;
    MiddleElidedLabel *name_ = nullptr;
    QLabel *recovery_ = nullptr;
    QScrollArea *scroll_ = nullptr;
    QWidget *pairGroup_ = nullptr;
    TaggedComboBox *pairOutput_ = nullptr;
    QFormLayout *pairForm_ = nullptr;
    QLineEdit *baseName_ = nullptr;
    ExportFormatControls *format_ = nullptr;
    ExportResolutionNote *resolutionNote_ = nullptr;
    LoopExportControls *loop_ = nullptr;
    QLabel *playbackNote_ = nullptr;
    QLabel *bpm_ = nullptr;
    IssueList *issues_ = nullptr;
    ExportPreviewControls *preview_ = nullptr;
    QProgressBar *progress_ = nullptr;
    QLabel *progressLine_ = nullptr;
    QLabel *message_ = nullptr;
    QPushButton *showInFolder_ = nullptr;
    QPushButton *restoreAccess_ = nullptr;
    QPushButton *cancelExport_ = nullptr;
    QPushButton *close_ = nullptr;
    QPushButton *default_ = nullptr;
};

} // namespace tampod
