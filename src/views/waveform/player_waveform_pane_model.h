#pragma once

#include "views/waveform/waveform_pane_model.h"

namespace tampod {

class PlayerModel;

// The waveform pane's view of the player model. thread: main only.
class PlayerWaveformPaneModel final : public WaveformPaneModel {
    Q_OBJECT

public:
    explicit PlayerWaveformPaneModel(PlayerModel &player, QObject *parent = nullptr);

    std::optional<QUuid> selectedID() const override;
    std::optional<AudioTrack> selectedTrack() const override;
    double progress() const override;
    bool hasRecoveryStatus() const override;
    WaveformCoordinator &waveforms() const override;
    WaveformZoom &waveformZoom() const override;
    SectionLoopCoordinator &sectionLoop() const override;
    void pause() override;
    void setSectionRange(SectionRange range) override;
    void toggleSectionLoop() override;
    void undoSectionRange() override;
    void redoSectionRange() override;

private:
    PlayerModel &player_;
};

} // namespace tampod
