#include "views/library/library_rows.h"

#include "player/player_model.h"
#include "views/library/library_texts.h"

#include "library/bpm_value.h"
#include "library/sd2_pair_audio.h"

#include <QHash>

namespace tampod {

namespace {

QString typeText(const AudioTrack &track, const std::optional<QString> &channel)
{
    if (channel)
        return QStringLiteral("SD2 ") + *channel;
    if (track.sd2Format || track.metadataAudio || track.recovery)
        return QStringLiteral("SD2");
    const QString fileName = track.projectedURL().fileName();
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot > 0 ? fileName.mid(dot + 1) : QString();
    return extension.compare(QLatin1String("sd2"), Qt::CaseInsensitive) == 0 ? QStringLiteral("SD2")
                                                                              : extension.toUpper();
}

} // namespace

std::vector<LibraryRow> libraryRows(PlayerModel &player, LibraryRowCache *cache)
{
    const QList<AudioTrack> &tracks = player.tracks();
    QHash<QUuid, const AudioTrack *> byID;
    byID.reserve(tracks.size());
    for (const AudioTrack &track : tracks)
        byID.insert(track.id, &track);

    const auto &detections = player.bpmDetection().states();
    const auto &recoveries = player.recoveryQueue().states();
    const bool preparingPair = player.pairing().isPreparing();
    const bool hasSection = player.sectionLoop().range().has_value();
    const std::optional<QUuid> &selectedID = player.selectedID();
    const std::optional<QUuid> &repeatID = player.repeatID();

    const QList<LinkedLibraryEntry> entries = player.libraryEntries();
    std::vector<LibraryRow> rows;
    rows.reserve(entries.size());
    for (const LinkedLibraryEntry &entry : entries) {
        const AudioTrack &track = entry.track;
        const AudioTrack &owner = *byID.value(entry.ownerID, &track);
        const std::optional<double> tempo = owner.effectiveBPM();
        const AudioSourceFormat format = track.sourceFormat();

        LibraryRow row;
        row.id = track.id;
        // A recovery's summary may change without the record's other texts: never kept.
        const bool keep = cache && !track.recovery && !track.pair;
        LibraryRowCache::Inputs inputs;
        bool cached = false;
        if (keep) {
            inputs = {track.projectedURL(), track.duration, format,
                      bool(track.sd2Format || track.metadataAudio), entry.channel};
            if (const auto found = cache->texts.constFind(track.id);
                found != cache->texts.cend() && found->inputs == inputs) {
                row.name = found->name, row.duration = found->duration, row.type = found->type;
                row.help = found->help, row.sampleRate = found->sampleRate, row.resolution = found->resolution;
                cached = true;
            }
        }
        if (!cached) {
            row.name = track.pair ? track.pair->name() + LibraryText::pairNameSuffix : track.projectedURL().fileName();
            row.duration = track.waitsForRecovery() ? LibraryText::emDash : AudioTrack::durationText(track.duration);
            row.type = typeText(track, entry.channel);
            QString third;
            if (entry.channel)
                third = LibraryText::linkedChannelHelp.arg(*entry.channel);
            else if (track.recovery)
                third = track.recovery->summary();
            row.help = row.name + QLatin1Char('\n') + format.summary() + QLatin1Char('\n') + third;
            row.sampleRate = format.sampleRateText();
            row.resolution = format.resolution.text() + (format.assumed ? QStringLiteral("*") : QString());
            if (keep)
                cache->texts.insert(track.id, {inputs, row.name, row.duration, row.type, row.help, row.sampleRate,
                                               row.resolution});
        }
        row.bpm = tempo ? BPMValue::wholeText(*tempo) : LibraryText::emDash;
        if (hasSection && selectedID == entry.ownerID)
            row.repeatSymbol = RepeatSymbol::repeatOne;
        else if (repeatID == entry.ownerID)
            row.repeatSymbol = RepeatSymbol::repeat;
        row.linkedChannel = entry.channel;
        row.canDetectBPM =
            !owner.waitsForRecovery() && !tempo && !recoveries.contains(owner.id) && !preparingPair;
        if (const auto status = detections.constFind(owner.id); status != detections.cend())
            row.bpmStatus = *status;
        rows.push_back(std::move(row));
    }
    // Texts of tracks gone from the library go too, now and then.
    if (cache && cache->texts.size() > 2 * static_cast<qsizetype>(rows.size()) + 64)
        cache->texts.clear();
    return rows;
}

} // namespace tampod
