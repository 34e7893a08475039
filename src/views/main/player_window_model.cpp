#include "views/main/player_window_model.h"

#include "player/player_model.h"

namespace tampod {

PlayerWindowModel::PlayerWindowModel(PlayerModel &player, ExportDefaultsSource exportDefaults, QObject *parent)
    : MainWindowModel(parent)
    , player_(player)
    , exportDefaults_(std::move(exportDefaults))
{
    const auto changes = [this](const auto *sender, auto signal) {
        connect(sender, signal, this, &MainWindowModel::changed);
    };
    changes(&player, &PlayerModel::tracksChanged);
    changes(&player, &PlayerModel::selectedIDChanged);
    changes(&player, &PlayerModel::repeatIDChanged);
    changes(&player, &PlayerModel::isPlayingChanged);
    changes(&player, &PlayerModel::volumeChanged);
    changes(&player, &PlayerModel::isConfirmingRecoveryDepthChanged);
    changes(&player.librarySelection(), &LibrarySelection::idsChanged);
    changes(&player.exportChecks(), &ExportCheckSelection::idsChanged);
    changes(&player.imports(), &AudioImportCoordinator::pendingCountChanged);
    changes(&player.recoveryQueue(), &SD2RecoveryQueue::statesChanged);
    changes(&player.sectionLoop(), &SectionLoopCoordinator::rangeChanged);
    changes(&player.sectionLoop(), &SectionLoopCoordinator::preparedChanged);
    changes(&player.sectionLoop(), &SectionLoopCoordinator::isPreparingChanged);
    changes(&player.sectionLoop(), &SectionLoopCoordinator::canUndoChanged);
    changes(&player.sectionLoop(), &SectionLoopCoordinator::canRedoChanged);
    changes(&player.waveformZoom(), &WaveformZoom::amountChanged);
    connect(&player, &PlayerModel::positionOrLevelsChanged, this, &MainWindowModel::positionOrLevelsChanged);
}

std::optional<AudioTrack> PlayerWindowModel::primaryExportTrack() const
{
    return player_.primaryExportTrack();
}

bool PlayerWindowModel::hasPrimaryExportTrack() const
{
    return player_.primaryExportTrack().has_value();
}

QString PlayerWindowModel::primaryExportHelp() const
{
    return player_.primaryExportHelp();
}

bool PlayerWindowModel::primaryExportIsHighlighted() const
{
    return player_.primaryExportIsHighlighted();
}

std::unique_ptr<ExportSession> PlayerWindowModel::openPrimaryExportSession()
{
    return player_.primaryExportSession(exportDefaults_ ? exportDefaults_() : ExportDefaults());
}

std::unique_ptr<BatchExportSession> PlayerWindowModel::libraryExportSession()
{
    return player_.libraryExportSession(exportDefaults_ ? exportDefaults_() : ExportDefaults());
}

bool PlayerWindowModel::canPlaySelection() const { return player_.canPlaySelection(); }
bool PlayerWindowModel::isPlaying() const { return player_.isPlaying(); }
bool PlayerWindowModel::isRepeating() const { return player_.isRepeating(); }
double PlayerWindowModel::position() const { return player_.position(); }
double PlayerWindowModel::progress() const { return player_.progress(); }
double PlayerWindowModel::volume() const { return player_.volume(); }
QString PlayerWindowModel::timeText() const { return player_.timeText(); }
double PlayerWindowModel::sectionStart() const { return player_.sectionStart(); }
double PlayerWindowModel::playbackEnd() const { return player_.playbackEnd(); }
void PlayerWindowModel::play() { player_.play(); }
void PlayerWindowModel::pause() { player_.pause(); }
void PlayerWindowModel::seek(double seconds) { player_.seek(seconds); }
void PlayerWindowModel::toggleRepeat() { player_.toggleRepeat(); }
void PlayerWindowModel::setVolume(double volume) { player_.setVolume(volume); }

QList<double> PlayerWindowModel::levels() const
{
    const auto &levels = player_.levels();
    return QList<double>(levels.begin(), levels.end());
}

std::optional<double> PlayerWindowModel::selectedDuration() const
{
    const auto track = player_.selectedTrack();
    return track ? std::optional(track->duration) : std::nullopt;
}

std::optional<MainWindowModel::Span> PlayerWindowModel::loopSection() const
{
    const auto &range = player_.sectionLoop().range();
    return range ? std::optional(Span{range->start, range->end}) : std::nullopt;
}

double PlayerWindowModel::zoomAmount() const { return player_.waveformZoom().amount(); }

void PlayerWindowModel::setZoomAmount(double amount, Span focus)
{
    player_.waveformZoom().setAmount(amount, SectionRange{focus.start, focus.end});
}

void PlayerWindowModel::toggleSectionLoop() { player_.toggleSectionLoop(); }
bool PlayerWindowModel::libraryIsEmpty() const { return player_.tracks().isEmpty(); }
int PlayerWindowModel::pendingImports() const { return player_.imports().pendingCount(); }
void PlayerWindowModel::clearAll() { player_.clearAll(); }

bool PlayerWindowModel::selectedTrackHasRecovery() const
{
    const auto track = player_.selectedTrack();
    return track && track->recovery;
}

void PlayerWindowModel::importFiles(const QList<QUrl> &urls) { player_.importFiles(urls, false); }
void PlayerWindowModel::removeSelected() { player_.removeSelected(); }
void PlayerWindowModel::undoSectionRange() { player_.undoSectionRange(); }
void PlayerWindowModel::redoSectionRange() { player_.redoSectionRange(); }

} // namespace tampod
