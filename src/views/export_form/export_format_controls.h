#pragma once

#include "views/export_form/export_draft_binding.h"
#include "views/export_form/vinyl_controls.h"

#include <QWidget>

class QLabel;

namespace tampod {

class EncodingOptionsView;
class ExportResolutionControls;
class RefreshScheduler;
class TaggedComboBox;

// The shared settings form of the export sheets: format, sample rate, bit depth, lo-fi and
// clipping, the Vinyl and Hum rows, the format's options and the SD2 note. It edits a draft
// through its binding and owns nothing but the Vinyl rows' preview. thread: main only.
class ExportFormatControls : public QWidget {
    Q_OBJECT

public:
    explicit ExportFormatControls(ExportDraftBinding draft, QWidget *parent = nullptr);
    // vinylEnvironment: what the Vinyl rows take from the window (levels remembered, playback
    // paused for their preview).
    ExportFormatControls(ExportDraftBinding draft, VinylEnvironment vinylEnvironment, QWidget *parent = nullptr);

    // Re-reads the draft at once (changes are otherwise picked up once per event-loop turn).
    void refresh();

    TaggedComboBox *format() const { return format_; }
    TaggedComboBox *sampleRate() const { return sampleRate_; }
    ExportResolutionControls &resolution() const { return *resolution_; }
    EncodingOptionsView *encodingOptions() const { return encoding_; }
    VinylControls &vinyl() const { return *vinyl_; }
    QLabel *sd2Note() const { return sd2Note_; }

private:
    ExportDraftBinding draft_;
    RefreshScheduler *scheduler_;
    TaggedComboBox *format_;
    TaggedComboBox *sampleRate_;
    ExportResolutionControls *resolution_;
    VinylControls *vinyl_;
    EncodingOptionsView *encoding_;
    QLabel *sd2Note_;
};

} // namespace tampod
