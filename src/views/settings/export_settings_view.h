#pragma once

#include "export/export_defaults.h"
#include "views/export_form/export_draft_binding.h"
#include "views/export_form/vinyl_controls.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QToolButton;

namespace tampod {

class AlertPresenting;
class EncodingOptionsView;
class ExportPreferences;
class ExportResolutionControls;
class ExportResolutionNote;
class IssueList;
class PlayerModel;
class RefreshScheduler;
class TaggedComboBox;

// The settings window's content: the stored export defaults edited through a private draft.
// Only "Apply Settings" stores the draft; the Vinyl and Hum levels, which their sliders store
// at once, are the one part of the draft that follows the stored defaults. thread: main only.
class ExportSettingsView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize contentSize{560, 660};

    // preferences, player and alerts must outlive the view. The player is the one the embedded
    // Vinyl rows pause for their preview; alerts tell of a save that failed.
    ExportSettingsView(ExportPreferences &preferences, PlayerModel &player, AlertPresenting &alerts,
                       QWidget *parent = nullptr);

    const ExportDefaults &draft() const { return draft_; }
    void setDraft(const ExportDefaults &draft);
    ExportDraftBinding draftBinding();
    bool isUnapplied() const;
    bool canApply() const;

    // Stores the draft when it can be applied; a failed save keeps it unapplied and says so.
    void apply();
    // For the window's close: silences the audible export preview, whichever view started it,
    // and drops the unapplied edits.
    void windowClosed();

    // Re-reads the draft at once (changes are otherwise picked up once per event-loop turn).
    void refresh();

    PlayerModel &player() const { return player_; }
    TaggedComboBox *format() const { return format_; }
    TaggedComboBox *sampleRate() const { return sampleRate_; }
    ExportResolutionControls &resolution() const { return *resolution_; }
    ExportResolutionNote *resolutionNote() const { return resolutionNote_; }
    EncodingOptionsView *encodingOptions() const { return encoding_; }
    QToolButton *formatDetailsToggle() const { return detailsToggle_; }
    // The format's description, then its notes.
    QLabel *formatDescription() const { return description_; }
    QLabel *formatNotes() const { return notes_; }
    QLabel *bitDepthNote() const { return bitDepthNote_; }
    IssueList *issueList() const { return issues_; }
    QLabel *statusLine() const { return status_; }
    QPushButton *applyButton() const { return apply_; }

Q_SIGNALS:
    void draftChanged();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void build();
    // What the embedded Vinyl rows need: this window's preferences, player and alerts.
    VinylEnvironment vinylEnvironment();
    void followStoredLevels();

    ExportPreferences &preferences_;
    PlayerModel &player_;
    AlertPresenting &alerts_;
    ExportDefaults draft_;     // thread: main
    VinylOptions storedVinyl_; // thread: main; the stored Vinyl options the draft last followed
    RefreshScheduler *scheduler_ = nullptr;
    TaggedComboBox *format_ = nullptr;
    TaggedComboBox *sampleRate_ = nullptr;
    ExportResolutionControls *resolution_ = nullptr;
    ExportResolutionNote *resolutionNote_ = nullptr;
    EncodingOptionsView *encoding_ = nullptr;
    QWidget *details_ = nullptr;
    QToolButton *detailsToggle_ = nullptr;
    QWidget *detailsBody_ = nullptr;
    QLabel *description_ = nullptr;
    QLabel *notes_ = nullptr;
    QLabel *bitDepthNote_ = nullptr;
    IssueList *issues_ = nullptr;
    QLabel *status_ = nullptr;
    QPushButton *apply_ = nullptr;
};

} // namespace tampod
