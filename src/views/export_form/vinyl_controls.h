#pragma once

#include "export/export_preferences.h"
#include "export/preview/export_preview_coordinator.h"
#include "views/export_form/export_draft_binding.h"

#include <QObject>
#include <QPointer>
#include <QPushButton>

#include <cstdint>
#include <functional>

class QCheckBox;
class QFormLayout;
class QLabel;

namespace tampod {

class HardwareSlider;
class RefreshScheduler;
class TaggedComboBox;

// What the Vinyl and Hum rows take from the window that shows them. The application fills it
// from its one ExportPreferences and PlayerModel::mainPlaybackPause(), and every form showing
// the rows (the export sheets, the settings window) passes the same one on. An empty one
// remembers no level and previews without pausing anything.
struct VinylEnvironment {
    // The saved export settings: each level the user sets is remembered there when set.
    QPointer<ExportPreferences> preferences;
    // Pauses main playback and gives the listening volume the solo previews play at.
    ExportPreviewCoordinator::PauseMainPlayback pauseMainPlayback;
    // Makes each control's own preview coordinator; by default one with the default renderer
    // and player.
    std::function<ExportPreviewCoordinator *()> makePreview;
    // The file of a recording by resource name; by default the application's own samples.
    std::function<QString(const QString &name)> resourcePath;
    // Tells the user that a level could not be written to the saved settings.
    std::function<void()> levelNotSaved;
};

// A preview button: its title after a play symbol, or a stop symbol while its layer sounds.
class LayerPreviewButton : public QPushButton {
    Q_OBJECT

public:
    LayerPreviewButton(const QString &title, QWidget *parent);

    void setActive(bool active);
    bool isActive() const { return active_; }

private:
    bool active_ = false;
};

// The Vinyl and Hum rows of an export settings form: the texture toggle, the sample with its
// solo preview, the two levels, hum and its preview, New Pattern, and the preview's status.
// They join the form they are given, edit the draft through its binding (a level at every step
// of a drag) and remember each level in the saved settings once it is released or stepped.
// The solo previews play through a coordinator of their own, which stops whenever the draft
// changes, the form is disabled or the rows go away.
// thread: main only.
class VinylControls : public QObject {
    Q_OBJECT

public:
    // Adds the rows to form, whose widget is host: the rows are enabled while host is, and
    // live as long as it.
    VinylControls(ExportDraftBinding draft, VinylEnvironment environment, QFormLayout *form, QWidget *host);
    ~VinylControls() override;

    // Re-reads the draft and the preview at once.
    void refresh();

    ExportPreviewCoordinator &preview() const { return *preview_; }
    QCheckBox *textureToggle() const { return texture_; }
    TaggedComboBox *samplePicker() const { return sample_; }
    LayerPreviewButton *previewButton(ExportPreviewMode mode) const;
    HardwareSlider *vinylLevel() const { return vinylLevel_; }
    QLabel *vinylLevelText() const { return vinylLevelText_; }
    QCheckBox *humToggle() const { return hum_; }
    HardwareSlider *humLevel() const { return humLevel_; }
    QLabel *humLevelText() const { return humLevelText_; }
    QPushButton *newPatternButton() const { return newPattern_; }
    QLabel *messageLine() const { return message_; }
    // Whether the form shows the row holding widget.
    bool isRowShown(QWidget *widget) const;

    // A pattern seed other than seed, drawn from the system's generator.
    static std::uint64_t newSeed(std::uint64_t seed);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void levelRow(const QString &title, std::int64_t VinylOptions::*level, HardwareSlider *&slider, QLabel *&text);
    void press(ExportPreviewMode mode);
    void startPreview(ExportPreviewMode mode);
    void draftChanged();
    bool isActive(ExportPreviewMode mode) const;

    ExportDraftBinding draft_;
    VinylEnvironment environment_;
    QFormLayout *form_;
    QWidget *host_;
    ExportPreviewCoordinator *preview_; // child of this object
    ExportDefaults shown_;              // the draft last seen, to tell a real change
    RefreshScheduler *scheduler_;
    QCheckBox *texture_;
    QWidget *sampleRow_;
    TaggedComboBox *sample_;
    LayerPreviewButton *vinylPreview_;
    HardwareSlider *vinylLevel_ = nullptr;
    QLabel *vinylLevelText_ = nullptr;
    QWidget *humRow_;
    QCheckBox *hum_;
    LayerPreviewButton *humPreview_;
    HardwareSlider *humLevel_ = nullptr;
    QLabel *humLevelText_ = nullptr;
    QPushButton *newPattern_;
    QLabel *message_;
};

} // namespace tampod
