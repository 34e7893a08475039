#pragma once

#include "library/audio_track.h"
#include "platform/encode/wav_integer_writer.h"

#include "support/test_support.h"

#include <QDir>

#include <random>
#include <vector>

namespace tampod::test {

// Random left-justified samples that a file of bits keeps exactly.
inline std::vector<std::int32_t> noise(std::int64_t count, int bits, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::int32_t> samples(static_cast<size_t>(count));
    for (auto &sample : samples)
        sample = std::int32_t(random() & (0xffffffffu << (32 - bits)));
    return samples;
}

inline void writeWav(const QString &path, int bits, int rate, int channels, const std::vector<std::int32_t> &samples)
{
    WavIntegerWriter writer(path, rate, channels, bits);
    writer.writeInt32Interleaved(samples.data(), std::int64_t(samples.size()) / channels);
    writer.finish();
}

// A playable mono SD2 channel file as the library holds it; nothing on disk.
inline AudioTrack channelRecord(const QString &path, std::optional<std::int64_t> frames = 1000, int rate = 44100,
                                int sampleBytes = 2)
{
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(path));
    track.sd2Format = SD2Metadata{sampleBytes, rate, 1, std::nullopt, std::nullopt};
    track.importedSD2Frames = frames;
    return track;
}

// The same as the importer leaves it on disk: the data fork at dir/name, played from a WAV
// working copy of random samples in a folder of its own. copyFrames: what the record says the
// copy holds, when it should disagree with the file.
inline AudioTrack sd2Channel(const TempDir &dir, const QString &name, std::int64_t frames, int bits = 16,
                             int rate = 44100, unsigned seed = 1, std::optional<std::int64_t> copyFrames = {})
{
    writeFile(dir.file(name), "headerless SD2 samples");
    const QString copy = dir.file(name + "-copy/Recovered.wav");
    QDir().mkpath(dir.file(name + "-copy"));
    writeWav(copy, bits, rate, 1, noise(frames, bits, seed));
    AudioTrack track = channelRecord(dir.file(name), std::nullopt, rate, bits / 8);
    track.access = std::make_shared<const FileAccessLease>(QUrl::fromLocalFile(dir.file(name)));
    track.metadataAudio = SD2MetadataAudio{*track.sd2Format, std::make_shared<const SD2RecoveredCopy>(
        QUrl::fromLocalFile(copy), rate, copyFrames.value_or(frames), "copy", bits / 8, 1)};
    return track;
}

// The job folders of a store's session.
inline QStringList jobFolders(const QUrl &session)
{
    return QDir(session.toLocalFile() + "/jobs").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}

} // namespace tampod::test
