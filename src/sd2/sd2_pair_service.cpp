#include "sd2/sd2_pair_service.h"

#include "concurrency/thread_role.h"
#include "files/journal/audio_export_error.h"
#include "library/sd2_pair_audio.h"
#include "platform/decode/pcm_file_description.h"
#include "files/store/job_folder.h"
#include "sd2/sd2_pair_model.h"
#include "sd2/sd2_recovery_service.h"
#include "sd2/stereo_pcm_tools.h"

#include <QStringList>
#include <QUuid>

#include <cmath>

namespace tampod {

namespace {

bool usable(const std::optional<double> &tempo)
{
    return tempo && std::isfinite(*tempo) && *tempo > 0;
}

// Only one of the three tempo fields is set: a tag both files agree on, else a detection both
// agree on (when neither has a tag), else agreeing effective tempos as an inherited one.
void applyTempo(AudioTrack &pair, const AudioTrack &left, const AudioTrack &right)
{
    if (usable(left.bpm) && usable(right.bpm) && *left.bpm == *right.bpm) {
        pair.bpm = left.bpm;
    } else if (!left.bpm && !right.bpm && usable(left.detectedBPM) && usable(right.detectedBPM) &&
               *left.detectedBPM == *right.detectedBPM) {
        pair.detectedBPM = left.detectedBPM;
    } else if (const auto effective = left.effectiveBPM(); effective && effective == right.effectiveBPM()) {
        pair.inheritedBPM = effective;
    }
}

std::optional<QString> pairNote(const AudioTrack &left, const AudioTrack &right)
{
    QStringList lines;
    for (const AudioTrack *track : {&left, &right}) {
        if (track->sd2MetadataNote)
            lines << track->displayName() + QStringLiteral(": ") + *track->sd2MetadataNote;
    }
    if (lines.isEmpty())
        return std::nullopt;
    return lines.join(QLatin1Char('\n'));
}

} // namespace

SD2PairService::SD2PairService(StoreProvider store) : store_(std::move(store)), executor_(QStringLiteral("SD2 pair"))
{
}

Async<AudioTrack> SD2PairService::prepare(AudioTrack left, AudioTrack right, SD2PairProgress progress,
                                          CancellationToken token)
{
    return executor_.submit([this, left = std::move(left), right = std::move(right), progress = std::move(progress),
                             token = std::move(token)] { return prepareNow(left, right, progress, token); });
}

AudioTrack SD2PairService::prepareNow(const AudioTrack &left, const AudioTrack &right,
                                      const SD2PairProgress &progress, const CancellationToken &token) const
{
    TAMPOD_ASSERT_ON(executor_);
    if (const auto issue = SD2PairModel::issue(left, right))
        throw AudioExportError::invalidSettings(*issue);

    JobFolder folder(store_().makeDirectory());
    const QString path = folder.file(QStringLiteral("Stereo.wav"));
    const auto parameters = left.sd2Parameters();
    if (!parameters)
        throw AudioExportError(AudioExportError::Case::unsupportedSource);
    const int bits = parameters->sampleBytes * 8;
    const StereoPCMTools::Result joined =
        StereoPCMTools::join(left.audioURL(), right.audioURL(), QUrl::fromLocalFile(path), bits, progress, token);

    const PCMFileDescription written = PCMFileDescription::read(path);
    if (written.frames != joined.frames || written.channels != 2 || written.sampleRate != joined.sampleRate ||
        written.bitsPerSample != bits)
        throw AudioExportError(AudioExportError::Case::verificationFailed);

    // No digest for a pair's copy: a fresh identity is enough, as nothing is ever compared to it.
    auto copy = std::make_shared<const SD2RecoveredCopy>(
        QUrl::fromLocalFile(path), joined.sampleRate, joined.frames,
        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(), parameters->sampleBytes, 2);
    folder.keep(); // the copy owns the folder now

    AudioTrack pair;
    pair.id = QUuid::createUuid();
    pair._url = TrackedFileURL(left.url());
    pair.duration = double(joined.frames) / double(joined.sampleRate);
    applyTempo(pair, left, right);
    pair.access = left.access;
    pair.sd2MetadataNote = pairNote(left, right);
    pair.importedFormat = AudioSourceFormat();
    pair.pair = std::make_shared<const SD2PairAudio>(left, right, std::move(copy));
    token.throwIfCancelled(); // dropping the pair removes its folder
    return pair;
}

} // namespace tampod
