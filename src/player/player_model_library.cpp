#include "player/player_model.h"

#include "concurrency/thread_role.h"
#include "core/number_text.h"
#include "library/sd2_pair_audio.h"
#include "sd2/sd2_library_order.h"

#include <QPointer>

#include <algorithm>

namespace tampod {

namespace {

const QString openPanelTitle = QStringLiteral("Open Audio Files or Folders");
const QString rejectedTitle = QStringLiteral("Some files couldn’t be loaded");
const QString rejectedMessage = QStringLiteral(" audio files were added. The following items were rejected:");

// A library track's rows, appended to rows: a linked pair's L and R channels, else the track.
void appendRowsOf(const AudioTrack &track, QList<LinkedLibraryEntry> &rows)
{
    if (track.pair) {
        rows.append({&track.pair->left(), track.id, QStringLiteral("L"), &track});
        rows.append({&track.pair->right(), track.id, QStringLiteral("R"), &track});
    } else {
        rows.append({&track, track.id, std::nullopt, &track});
    }
}

} // namespace

// Library rows -------------------------------------------------------------------------------

QList<LinkedLibraryEntry> PlayerModel::libraryEntries() const
{
    QList<LinkedLibraryEntry> entries;
    entries.reserve(tracks_.size());
    for (const AudioTrack &track : tracks_)
        appendRowsOf(track, entries);
    return entries;
}

QList<LinkedLibraryEntry> PlayerModel::libraryEntriesOf(const QUuid &ownerID) const
{
    QList<LinkedLibraryEntry> entries;
    if (const AudioTrack *track = findTrack(ownerID))
        appendRowsOf(*track, entries);
    return entries;
}

std::optional<QUuid> PlayerModel::libraryOwner(const QUuid &rowID) const
{
    if (const AudioTrack *track = findTrack(rowID))
        return track->pair ? std::nullopt : std::optional(rowID);
    if (const auto owner = channelOwners_.constFind(rowID); owner != channelOwners_.cend())
        return *owner;
    return std::nullopt;
}

QList<AudioTrack> PlayerModel::selectedTracks() const
{
    QList<AudioTrack> selected;
    for (const AudioTrack &track : tracks_)
        if (librarySelection_->ids().contains(track.id))
            selected.append(track);
    return selected;
}

QSet<QUuid> PlayerModel::visibleLibraryIDs(const QSet<QUuid> &ids) const
{
    QSet<QUuid> rows;
    for (const QUuid &id : ids)
        for (const LinkedLibraryEntry &entry : libraryEntriesOf(id))
            rows.insert(entry.track->id);
    return rows;
}

void PlayerModel::selectVisibleLibraryRows(const QSet<QUuid> &rowIDs)
{
    QSet<QUuid> owners;
    for (const QUuid &id : rowIDs)
        if (const auto owner = libraryOwner(id))
            owners.insert(*owner);
    selectLibraryRows(owners);
}

void PlayerModel::selectLibraryRows(const QSet<QUuid> &ids)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    librarySelection_->replace(ids, tracks_);
    if (currentTrack() && librarySelection_->ids().contains(*selectedID_))
        return;
    // The multi-row selection survives the change of the current track.
    const QList<AudioTrack> selected = selectedTracks();
    if (!selected.isEmpty())
        select(selected.first().id, true);
}

// Library list changes -----------------------------------------------------------------------

TaskHandle PlayerModel::importFiles(const QList<QUrl> &urls, bool selectFirstImported)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    QPointer<PlayerModel> self(this);
    return imports_->enqueue(
        urls,
        [self] {
            QSet<QUrl> existing;
            if (self) {
                for (const AudioTrack &track : std::as_const(self->tracks_))
                    for (const QUrl &url : track.originalURLs())
                        existing.insert(url);
            }
            return existing;
        },
        [self, selectFirstImported](const AudioImportResult &result) {
            if (self)
                self->importCompleted(result, selectFirstImported);
        });
}

void PlayerModel::importCompleted(const AudioImportResult &result, bool selectFirstImported)
{
    append(result.tracks);
    if (selectFirstImported && !result.tracks.isEmpty())
        select(result.tracks.first().id, false);
    if (result.rejections.isEmpty())
        return;
    QStringList details;
    for (const ImportRejection &rejection : result.rejections)
        details.append(rejection.name + QStringLiteral(" — ") + rejection.reason);
    warn(rejectedTitle, NumberText::wholeQ(result.tracks.size()) + rejectedMessage, details);
}

void PlayerModel::openFiles()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (!filePanels)
        return;
    OpenPanelOptions options;
    options.text.title = openPanelTitle;
    options.canChooseFiles = true;
    options.canChooseFolders = true;
    options.allowsMultipleSelection = true;
    options.canCreateFolders = true;
    QPointer<PlayerModel> self(this);
    filePanels->open(options, [self](const QList<QUrl> &chosen) {
        if (self && !chosen.isEmpty())
            self->importFiles(chosen, false);
    });
}

void PlayerModel::append(const QList<AudioTrack> &tracks)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    // The .L and .R files of one recording stand together, also when imported apart.
    setTracks(SD2LibraryOrder::grouped(tracks_ + tracks));
    reportSD2ImportLengths(tracks);
    if (!selectedID_ && !tracks_.isEmpty())
        select(tracks_.first().id, false);
    prepareImportedSD2(tracks);
}

void PlayerModel::forgetTrackWork(const QUuid &id, bool forgetTrialVolume)
{
    bpmDetection_->cancel(id);
    recoveryQueue_->cancel(id, forgetTrialVolume);
}

void PlayerModel::removeSelected()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    pairing_->cancel();
    const QSet<QUuid> selected = librarySelection_->ids();
    const auto first = std::find_if(tracks_.cbegin(), tracks_.cend(),
                                    [&](const AudioTrack &t) { return selected.contains(t.id); });
    if (first == tracks_.cend())
        return;
    const qsizetype firstIndex = first - tracks_.cbegin();
    for (const QUuid &id : selected)
        forgetTrackWork(id, true);
    resetPlayback();
    QList<AudioTrack> kept = tracks_;
    kept.removeIf([&](const AudioTrack &t) { return selected.contains(t.id); });
    setTracks(std::move(kept));
    exportChecks_->remove(selected);
    if (tracks_.isEmpty())
        return;
    select(tracks_[std::min(tracks_.size() - 1, firstIndex)].id, false);
}

void PlayerModel::clearAll()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    pairing_->cancel();
    imports_->cancelAll();
    recoveryQueue_->cancelAll();
    bpmDetection_->cancelAll();
    waveforms_->reset();
    resetPlayback();
    setTracks({});
    exportChecks_->clear();
}

void PlayerModel::replaceLibraryTracks(const QList<AudioTrack> &old, const QList<AudioTrack> &replacements)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (old.isEmpty())
        return;
    // Every old track must still stand as it was: one rewritten meanwhile (a finished
    // recovery changes its audio) cancels the replacement.
    QSet<QUuid> replaced;
    qsizetype position = tracks_.size();
    for (const AudioTrack &track : old) {
        const int index = indexOf(track.id);
        if (index < 0 || tracks_[index].audioURL() != track.audioURL())
            return;
        replaced.insert(track.id);
        // The place of the old tracks in the library, whatever order they were handed in.
        position = std::min<qsizetype>(position, index);
    }
    const bool wasChecked = exportChecks_->ids().intersects(replaced);
    resetPlayback();
    for (const QUuid &id : std::as_const(replaced))
        forgetTrackWork(id, false);
    QList<AudioTrack> tracks = tracks_;
    tracks.removeIf([&](const AudioTrack &t) { return replaced.contains(t.id); });
    const qsizetype at = std::min(position, tracks.size());
    for (qsizetype i = 0; i < replacements.size(); ++i)
        tracks.insert(at + i, replacements[i]);
    setTracks(std::move(tracks));
    exportChecks_->remove(replaced);
    if (wasChecked) {
        for (const AudioTrack &track : replacements)
            exportChecks_->set(track.id, true);
    }
    if (!replacements.isEmpty())
        select(replacements.first().id, false);
}

} // namespace tampod
