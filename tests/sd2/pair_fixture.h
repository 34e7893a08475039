#pragma once

#include "library/audio_track.h"
#include "platform/encode/wav_integer_writer.h"

#include "support/test_support.h"

#include <QDir>

#include <random>
#include <vector>

namespace tampod::test {

// A mono SD2 channel file as the importer leaves it: the data fork at dir/name, played from a
// WAV working copy of random samples in a folder of its own. copyFrames: what the record says
// the copy holds, when it should disagree with the file.
inline AudioTrack sd2Channel(const TempDir &dir, const QString &name, std::int64_t frames, int bits = 16,
                             int rate = 44100, unsigned seed = 1, std::optional<std::int64_t> copyFrames = {})
{
    writeFile(dir.file(name), "headerless SD2 samples");
    const QString folder = dir.file(name + "-copy");
    QDir().mkpath(folder);
    std::mt19937 random(seed);
    std::vector<std::int32_t> samples(static_cast<size_t>(frames));
    for (auto &sample : samples)
        sample = std::int32_t(random() & (0xffffffffu << (32 - bits)));
    WavIntegerWriter writer(folder + "/Recovered.wav", rate, 1, bits);
    writer.writeInt32Interleaved(samples.data(), frames);
    writer.finish();

    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(dir.file(name)));
    track.access = std::make_shared<const FileAccessLease>(QUrl::fromLocalFile(dir.file(name)));
    const SD2Metadata metadata{bits / 8, rate, 1, std::nullopt, std::nullopt};
    track.sd2Format = metadata;
    track.metadataAudio = SD2MetadataAudio{metadata, std::make_shared<const SD2RecoveredCopy>(
        QUrl::fromLocalFile(folder + "/Recovered.wav"), rate, copyFrames.value_or(frames), "copy", bits / 8, 1)};
    return track;
}

// The job folders of a store's session.
inline QStringList jobFolders(const QUrl &session)
{
    return QDir(session.toLocalFile() + "/jobs").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}

} // namespace tampod::test
