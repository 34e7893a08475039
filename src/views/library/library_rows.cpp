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

// What every row reads besides its own records, read once per build.
struct RowContext {
    const QHash<QUuid, BPMDetectionQueue::Status> &detections;
    const QHash<QUuid, SD2RecoveryQueue::Status> &recoveries;
    bool preparingPair;
    bool hasSection;
    const std::optional<QUuid> &selectedID;
    const std::optional<QUuid> &repeatID;

    explicit RowContext(PlayerModel &p)
        : detections(p.bpmDetection().states())
        , recoveries(p.recoveryQueue().states())
        , preparingPair(p.pairing().isPreparing())
        , hasSection(p.sectionLoop().range().has_value())
        , selectedID(p.selectedID())
        , repeatID(p.repeatID())
    {
    }
};

LibraryRow rowOf(const RowContext &context, const LinkedLibraryEntry &entry, LibraryRowCache *cache)
{
    const AudioTrack &track = *entry.track;
    const AudioTrack &owner = *entry.owner;
    const std::optional<double> tempo = owner.effectiveBPM();
    const AudioSourceFormat format = track.sourceFormat();

    LibraryRow row;
    row.id = track.id;
    // A recovery's summary may change without the record's other texts: never kept.
    const bool keep = cache && !track.recovery && !track.pair;
    LibraryRowCache::Inputs inputs;
    bool cached = false;
    if (keep) {
        inputs = {track.projectedURL(), track.duration, format, bool(track.sd2Format || track.metadataAudio),
                  entry.channel};
        if (const auto kept = cache->texts.constFind(track.id); kept != cache->texts.cend() && kept->inputs == inputs) {
            row.name = kept->name, row.duration = kept->duration, row.type = kept->type;
            row.help = kept->help, row.sampleRate = kept->sampleRate, row.resolution = kept->resolution;
            cached = true;
        }
    }
    if (!cached) {
        row.name = track.displayName();
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
    if (context.hasSection && context.selectedID == entry.ownerID)
        row.repeatSymbol = RepeatSymbol::repeatOne;
    else if (context.repeatID == entry.ownerID)
        row.repeatSymbol = RepeatSymbol::repeat;
    row.linkedChannel = entry.channel;
    row.canDetectBPM =
        !owner.waitsForRecovery() && !tempo && !context.recoveries.contains(owner.id) && !context.preparingPair;
    if (const auto status = context.detections.constFind(owner.id); status != context.detections.cend())
        row.bpmStatus = *status;
    return row;
}

} // namespace

std::vector<LibraryRow> libraryRows(PlayerModel &player, LibraryRowCache *cache)
{
    const RowContext context(player);
    const QList<LinkedLibraryEntry> entries = player.libraryEntries();
    std::vector<LibraryRow> rows;
    rows.reserve(entries.size());
    for (const LinkedLibraryEntry &entry : entries)
        rows.push_back(rowOf(context, entry, cache));
    // Texts of tracks gone from the library go too, now and then.
    if (cache && cache->texts.size() > 2 * static_cast<qsizetype>(rows.size()) + 64)
        cache->texts.clear();
    return rows;
}

std::vector<LibraryRow> libraryRowsOf(PlayerModel &player, const QUuid &ownerID, LibraryRowCache *cache)
{
    const RowContext context(player);
    std::vector<LibraryRow> rows;
    for (const LinkedLibraryEntry &entry : player.libraryEntriesOf(ownerID))
        rows.push_back(rowOf(context, entry, cache));
    return rows;
}

} // namespace tampod
