#pragma once

#include "views/export_form/vinyl_controls.h"
#include "views/kit/dialogs/sheet_dialog.h"

#include <QList>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace tampod {

class BatchExportRow;
class BatchExportSession;
class ExportFormatControls;
class ExportResolutionNote;
class IssueList;
class RefreshScheduler;
class TaggedComboBox;

// The sheet that exports several recordings into one folder with shared settings: a thin view
// over its batch session, which it holds for its life. It cannot be dismissed while the folder
// panel is open or files are exporting, and going away cancels a running batch. thread: main only.
class BatchExportView : public SheetDialog {
    Q_OBJECT

public:
    static constexpr int sheetWidth = 540;
    static constexpr int sheetHeight = 690;

    // The sheet on a session, for SheetHost::of(window).present().
    static BatchExportView *make(std::unique_ptr<BatchExportSession> session, QWidget *window,
                                 VinylEnvironment vinyl = {});
    ~BatchExportView() override;

    BatchExportSession &session() const { return *session_; }

    // Re-reads the session at once (changes are otherwise picked up once per event-loop turn).
    void refresh();

    QLabel *titleLine() const { return title_; }
    QScrollArea *settingsArea() const { return settings_; }
    TaggedComboBox *pairOutputPicker() const { return pairOutput_; }
    ExportFormatControls *formatControls() const { return format_; }
    ExportResolutionNote *resolutionNote() const { return resolutionNote_; }
    IssueList *issueList() const { return issues_; }
    QLabel *diagnosticLine() const { return diagnostic_; }
    QScrollArea *itemList() const { return list_; }
    const QList<BatchExportRow *> &rows() const { return rows_; }
    QProgressBar *progressBar() const { return progress_; }
    QLabel *summaryLine() const { return summary_; }
    QPushButton *showFolderButton() const { return showFolder_; }
    QPushButton *cancelBatchButton() const { return cancelBatch_; }
    QPushButton *closeButton() const { return close_; }
    QPushButton *chooseFolderButton() const { return chooseFolder_; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    BatchExportView(std::unique_ptr<BatchExportSession> session, QWidget *window, VinylEnvironment vinyl);
    void build();
    QWidget *buildSettings();
    void refreshRows();
    // Cancels a running batch; only the first call acts.
    void closeActions();

    std::unique_ptr<BatchExportSession> session_;
    VinylEnvironment vinyl_;
    bool closeActionsRan_ = false; // thread: main
    RefreshScheduler *scheduler_ = nullptr;
    QWidget *content_ = nullptr;
    QLabel *title_ = nullptr;
    QScrollArea *settings_ = nullptr;
    QWidget *pairGroup_ = nullptr;
    TaggedComboBox *pairOutput_ = nullptr;
    ExportFormatControls *format_ = nullptr;
    ExportResolutionNote *resolutionNote_ = nullptr;
    IssueList *issues_ = nullptr;
    QLabel *diagnostic_ = nullptr;
    QScrollArea *list_ = nullptr;
    QVBoxLayout *rowStack_ = nullptr;
    QList<BatchExportRow *> rows_;
    QProgressBar *progress_ = nullptr;
    QLabel *summary_ = nullptr;
    QPushButton *showFolder_ = nullptr;
    QPushButton *cancelBatch_ = nullptr;
    QPushButton *close_ = nullptr;
    QPushButton *chooseFolder_ = nullptr;
};

} // namespace tampod
