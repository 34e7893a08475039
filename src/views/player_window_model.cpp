#include "views/player_window_model.h"

#include "views/main_view_texts.h"

#include "library/sd2_pair_audio.h"
#include "player/player_model.h"

namespace tampod {

namespace {

bool waitsForRecovery(const AudioTrack &track)
{
    return track.recovery && !track.recovery->copy;
}

} // namespace

PlayerWindowModel::PlayerWindowModel(PlayerModel &player, QObject *parent)
    : MainWindowModel(parent)
    , player_(player)
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
    const QSet<QUuid> &checked = player_.exportChecks().ids();
    std::optional<AudioTrack> track;
    if (checked.size() == 1) {
        for (const AudioTrack &candidate : player_.tracks())
            if (candidate.id == *checked.begin())
                track = candidate;
    } else {
        track = player_.selectedTrack();
    }
    if (!track || waitsForRecovery(*track) || player_.recoveryQueue().states().contains(track->id)
        || player_.isConfirmingRecoveryDepth())
        return std::nullopt;
    if (track->id == player_.selectedID() && !player_.canPlaySelection())
        return std::nullopt;
    return track;
}

bool PlayerWindowModel::hasPrimaryExportTrack() const
{
    return primaryExportTrack().has_value();
}

QString PlayerWindowModel::primaryExportHelp() const
{
    const auto track = primaryExportTrack();
    if (!track)
        return MainViewText::noExportTrack;
    // The name as loaded: asking where the file is now may touch the disk.
    const QString name = track->pair ? track->pair->name() + QStringLiteral(" (L/R)") : track->projectedURL().fileName();
    const bool loop = track->id == player_.selectedID() && player_.sectionLoop().prepared();
    return MainViewText::exportPrefix + name + (loop ? MainViewText::selectedLoop : MainViewText::wholeFile);
}

bool PlayerWindowModel::primaryExportIsHighlighted() const
{
    if (!hasPrimaryExportTrack())
        return false;
    const qsizetype checked = player_.exportChecks().ids().size();
    return checked == 1 || (checked == 0 && player_.librarySelection().ids().size() == 1);
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
