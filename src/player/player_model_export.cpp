#include "player/player_model.h"


#include "concurrency/thread_role.h"
#include "library/sd2_pair_audio.h"

#include <QPointer>

namespace tampod {

namespace {


} // namespace

QList<AudioTrack> PlayerModel::checkedTracks() const
{
    QList<AudioTrack> checked;
    for (const AudioTrack &track : tracks_)
        if (exportChecks_->ids().contains(track.id))
            checked.append(track);
    return checked;
}

void PlayerModel::setExportChecked(const QUuid &id, bool checked)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (findTrack(id))
        exportChecks_->set(id, checked);
}

std::optional<AudioTrack> PlayerModel::primaryExportTrack() const
{
    const QList<AudioTrack> checked = checkedTracks();
    const AudioTrack *current = currentTrack();
    const AudioTrack *candidate = checked.size() == 1 ? &checked.first() : current;
    if (!candidate || candidate->waitsForRecovery() || recoveryQueue_->states().contains(candidate->id) ||
        isConfirmingRecoveryDepth_)
        return std::nullopt;
    if (current && candidate->id == current->id && !canPlaySelection())
        return std::nullopt;
    return *candidate;
}

bool PlayerModel::primaryExportIsHighlighted() const
{
    if (!primaryExportTrack())
        return false;
    const qsizetype checked = checkedTracks().size();
    if (checked > 0)
        return checked == 1;
    return selectedTracks().size() == 1;
}

QString PlayerModel::primaryExportHelp() const
{
    const auto track = primaryExportTrack();
    if (!track)
        return QStringLiteral("Choose a ready audio file to export");
    const QString name = track->displayName();
    const bool loop = track->id == selectedID_ && sectionLoop_->prepared();
    return QStringLiteral("Export ") + name + (loop ? QStringLiteral(" — selected loop") : QStringLiteral(" — whole file"));
}

LibraryExportSelection PlayerModel::libraryExportSelection() const
{
    if (QList<AudioTrack> checked = checkedTracks(); !checked.isEmpty())
        return {std::move(checked), true};
    QList<AudioTrack> selected = selectedTracks();
    if (selected.size() >= 2 || (selected.size() == 1 && selected.first().pair))
        return {std::move(selected), false};
    return {};
}

PlayerModel::MainPlaybackPause PlayerModel::mainPlaybackPause()
{
    QPointer<PlayerModel> self(this);
    // The session may call it long after the model has gone; it holds the model weakly.
    return [self] { return pauseMainPlayback(self); };
}

QCoro::Task<double> PlayerModel::pauseMainPlayback(QPointer<PlayerModel> self)
{
    if (!self)
        co_return 0.0;
    self->pause();
    const TaskHandle commands = self->queuedCommandsFinished();
    co_await commands.finished();
    co_return self ? self->volume_ : 0.0;
}

} // namespace tampod
