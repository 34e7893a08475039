#include "views/waveform/player_waveform_pane_model.h"

#include "player/player_model.h"

namespace tampod {

PlayerWaveformPaneModel::PlayerWaveformPaneModel(PlayerModel &player, QObject *parent)
    : WaveformPaneModel(parent), player_(player)
{
    for (auto signal : {&PlayerModel::selectedIDChanged, &PlayerModel::tracksChanged})
        connect(&player_, signal, this, &WaveformPaneModel::selectionChanged);
    // The recovery status is the current track's entry in the queue.
    for (auto signal : {&PlayerModel::selectedIDChanged, &PlayerModel::tracksChanged})
        connect(&player_, signal, this, &WaveformPaneModel::recoveryStatusChanged);
    connect(&player_.recoveryQueue(), &SD2RecoveryQueue::statesChanged, this, &WaveformPaneModel::recoveryStatusChanged);
    for (auto signal : {&PlayerModel::positionOrLevelsChanged, &PlayerModel::selectedIDChanged, &PlayerModel::tracksChanged})
        connect(&player_, signal, this, &WaveformPaneModel::progressChanged);
}

std::optional<QUuid> PlayerWaveformPaneModel::selectedID() const { return player_.selectedID(); }
std::optional<AudioTrack> PlayerWaveformPaneModel::selectedTrack() const { return player_.selectedTrack(); }
double PlayerWaveformPaneModel::progress() const { return player_.progress(); }
bool PlayerWaveformPaneModel::hasRecoveryStatus() const { return player_.recoveryStatus().has_value(); }
WaveformCoordinator &PlayerWaveformPaneModel::waveforms() const { return player_.waveforms(); }
WaveformZoom &PlayerWaveformPaneModel::waveformZoom() const { return player_.waveformZoom(); }
SectionLoopCoordinator &PlayerWaveformPaneModel::sectionLoop() const { return player_.sectionLoop(); }
void PlayerWaveformPaneModel::pause() { player_.pause(); }
void PlayerWaveformPaneModel::setSectionRange(SectionRange range) { player_.setSectionRange(range); }
void PlayerWaveformPaneModel::toggleSectionLoop() { player_.toggleSectionLoop(); }
void PlayerWaveformPaneModel::undoSectionRange() { player_.undoSectionRange(); }
void PlayerWaveformPaneModel::redoSectionRange() { player_.redoSectionRange(); }

} // namespace tampod
