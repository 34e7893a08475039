#include "sd2/sd2_library_order.h"

#include "core/native_path.h"
#include "core/number_text.h"
#include "library/sd2_identification.h"

#include <QtAlgorithms>

namespace tampod::SD2LibraryOrder {

namespace {

struct Member {
    qsizetype index; // position in the input
    QString channel; // "L" or "R"
};

std::optional<std::pair<Key, QString>> groupingKey(const AudioTrack &track)
{
    if (!track.isSD2() || track.pair)
        return std::nullopt;
    const QUrl &loaded = track.projectedURL();
    const auto name = SD2Identification::channelName(loaded);
    if (!name)
        return std::nullopt;
    return std::pair(Key{loaded.adjusted(QUrl::RemoveFilename), name->stem}, name->channel);
}

// Each key's grouping tracks, in input order, and the keys in the order of their first member.
struct RecordingGroups {
    QHash<Key, QList<Member>> members;
    QList<Key> order;
};

RecordingGroups recordingGroups(const QList<AudioTrack> &tracks)
{
    RecordingGroups groups;
    for (qsizetype i = 0; i < tracks.size(); ++i) {
        const auto key = groupingKey(tracks[i]);
        if (!key)
            continue;
        auto found = groups.members.find(key->first);
        if (found == groups.members.end()) {
            groups.order.append(key->first);
            found = groups.members.insert(key->first, {});
        }
        found->append(Member{i, key->second});
    }
    return groups;
}

std::optional<int> sampleRate(const AudioTrack &track)
{
    if (const auto parameters = track.sd2Parameters())
        return parameters->sampleRate;
    if (track.recovery && track.recovery->requested)
        return track.recovery->requested->sampleRate;
    return std::nullopt;
}

QString describe(const AudioTrack &track, std::int64_t frames, int rate)
{
    return displayedPath(track.projectedURL().fileName()) + QStringLiteral(": ") + NumberText::wholeQ(frames) +
           QStringLiteral(" frames at ") + NumberText::wholeQ(rate) + QStringLiteral(" Hz");
}

} // namespace

size_t qHash(const Key &key, size_t seed) noexcept
{
    return qHashMulti(seed, key.folder, key.stem);
}

QList<AudioTrack> grouped(const QList<AudioTrack> &tracks)
{
    const RecordingGroups groups = recordingGroups(tracks);
    QList<AudioTrack> result;
    result.reserve(tracks.size());
    QSet<Key> placed;
    for (const AudioTrack &track : tracks) {
        const auto key = groupingKey(track);
        if (!key) {
            result.append(track);
            continue;
        }
        if (placed.contains(key->first))
            continue;
        placed.insert(key->first);
        const QList<Member> &members = groups.members[key->first];
        for (const auto *channel : {"L", "R"}) {
            for (const Member &member : members) {
                if (member.channel == QLatin1String(channel))
                    result.append(tracks[member.index]);
            }
        }
    }
    return result;
}

QStringList lengthWarnings(const QList<AudioTrack> &tracks, const QSet<QUuid> &ids)
{
    const RecordingGroups groups = recordingGroups(tracks);
    QStringList warnings;
    for (const Key &key : groups.order) {
        const QList<Member> &members = groups.members[key];
        if (members.size() != 2 || members[0].channel == members[1].channel)
            continue;
        const AudioTrack &first = tracks[members[0].index];
        const AudioTrack &second = tracks[members[1].index];
        if (!ids.contains(first.id) && !ids.contains(second.id))
            continue;
        const auto firstFrames = first.sd2FrameCount(), secondFrames = second.sd2FrameCount();
        const auto firstRate = sampleRate(first), secondRate = sampleRate(second);
        if (!firstFrames || !secondFrames || !firstRate || !secondRate)
            continue;
        if (*firstFrames == *secondFrames && *firstRate == *secondRate)
            continue;
        warnings.append(describe(first, *firstFrames, *firstRate) + QStringLiteral("; ") +
                        describe(second, *secondFrames, *secondRate) +
                        QStringLiteral(". These channels cannot be linked unless their lengths and sample rates "
                                       "match."));
    }
    warnings.sort();
    return warnings;
}

std::optional<ImportLengthWarning> importLengthWarning(const QList<AudioTrack> &library,
                                                       const QList<AudioTrack> &imported)
{
    QSet<QUuid> ids;
    for (const AudioTrack &track : imported)
        ids.insert(track.id);
    QStringList details = lengthWarnings(library, ids);
    if (details.isEmpty())
        return std::nullopt;
    return ImportLengthWarning{
        QStringLiteral("SD2 channel lengths don’t match"),
        QStringLiteral("Both files were loaded next to each other for individual listening. They cannot form a "
                       "stereo pair. Lengths for recovered files use the displayed assumptions."),
        std::move(details)};
}

} // namespace tampod::SD2LibraryOrder
