#include "views/library/library_rows.h"

#include "player/player_model.h"
#include "views/library/library_texts.h"

#include "library/bpm_value.h"
#include "library/sd2_pair_audio.h"

#include <QHash>

namespace tampod {

namespace {

bool waitsForRecovery(const AudioTrack &track)
{
    return track.recovery && !track.recovery->copy;
}

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

std::vector<LibraryRow> libraryRows(PlayerModel &player)
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
        row.name = track.pair ? track.pair->name() + LibraryText::pairNameSuffix : track.projectedURL().fileName();
        row.bpm = tempo ? BPMValue::wholeText(*tempo) : LibraryText::emDash;
        row.duration = waitsForRecovery(track) ? LibraryText::emDash : AudioTrack::durationText(track.duration);
        row.type = typeText(track, entry.channel);
        if (hasSection && selectedID == entry.ownerID)
            row.repeatSymbol = RepeatSymbol::repeatOne;
        else if (repeatID == entry.ownerID)
            row.repeatSymbol = RepeatSymbol::repeat;
        QString third;
        if (entry.channel)
            third = LibraryText::linkedChannelHelp.arg(*entry.channel);
        else if (track.recovery)
            third = track.recovery->summary();
        row.help = row.name + QLatin1Char('\n') + format.summary() + QLatin1Char('\n') + third;
        row.sampleRate = format.sampleRateText();
        row.resolution = format.resolution.text() + (format.assumed ? QStringLiteral("*") : QString());
        row.linkedChannel = entry.channel;
        row.canDetectBPM =
            !waitsForRecovery(owner) && !tempo && !recoveries.contains(owner.id) && !preparingPair;
        if (const auto status = detections.constFind(owner.id); status != detections.cend())
            row.bpmStatus = *status;
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace tampod
