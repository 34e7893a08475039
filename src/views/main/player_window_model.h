#pragma once

#include "views/main/main_window_model.h"

#include "export/export_defaults.h"
#include "library/audio_track.h"

#include <functional>
#include <optional>

namespace tampod {

class PlayerModel;

// The main window's view of the player model: its values and operations, and one changed()
// for every signal of the model and of the coordinators the window reads. thread: main only.
class PlayerWindowModel : public MainWindowModel {
    Q_OBJECT

public:
    using ExportDefaultsSource = std::function<ExportDefaults()>;

    // exportDefaults: the settings a new export session starts from (the stored preferences).
    explicit PlayerWindowModel(PlayerModel &player, ExportDefaultsSource exportDefaults = {}, QObject *parent = nullptr);

    PlayerModel &player() const { return player_; }

    // The track "EXPORT" exports: the one export-checked track, else the current one; none
    // while it is not ready (waiting for or busy with SD2 recovery, a depth question up, or
    // the current track not playable).
    std::optional<AudioTrack> primaryExportTrack() const;

    bool canPlaySelection() const override;
    bool isPlaying() const override;
    bool isRepeating() const override;
    double position() const override;
    double progress() const override;
    double volume() const override;
    QList<double> levels() const override;
    QString timeText() const override;
    double sectionStart() const override;
    double playbackEnd() const override;
    std::optional<double> selectedDuration() const override;
    bool hasPrimaryExportTrack() const override;
    QString primaryExportHelp() const override;
    bool primaryExportIsHighlighted() const override;
    std::unique_ptr<ExportSession> openPrimaryExportSession() override;
    std::unique_ptr<BatchExportSession> libraryExportSession() override;
    void play() override;
    void pause() override;
    void seek(double seconds) override;
    void toggleRepeat() override;
    void setVolume(double volume) override;

    std::optional<Span> loopSection() const override;
    double zoomAmount() const override;
    void setZoomAmount(double amount, Span focus) override;
    void toggleSectionLoop() override;
    bool libraryIsEmpty() const override;
    int pendingImports() const override;
    void clearAll() override;
    bool selectedTrackHasRecovery() const override;
    void importFiles(const QList<QUrl> &urls) override;

    void removeSelected() override;
    void undoSectionRange() override;
    void redoSectionRange() override;

private:
    PlayerModel &player_;
    const ExportDefaultsSource exportDefaults_;
};

} // namespace tampod
