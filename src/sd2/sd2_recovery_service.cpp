#include "sd2/sd2_recovery_service.h"

#include "concurrency/main_thread.h"
#include "concurrency/thread_role.h"
#include "core/file_handle.h"
#include "files/access/missing_audio_source.h"
#include "files/store/job_folder.h"
#include "files/store/temporary_audio_safety.h"
#include "library/sd2_identification.h"
#include "library/sd2_pair_audio.h"
#include "platform/decode/pcm_file_description.h"
#include "platform/encode/wav_integer_writer.h"
#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_metadata_reader.h"
#include "sd2/sd2_recovery_error.h"

#include <QCryptographicHash>
#include <QPointer>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tampod {

static_assert(SD2RecoveryService::maximumDataBytes == WavIntegerWriter::maximumDataBytes);

namespace {

const QString copyName = QStringLiteral("Recovered.wav");

// Reports a phase's progress only when its whole percentage changes.
class PercentReporter {
public:
    explicit PercentReporter(const SD2RecoveryProgress &progress) : progress_(progress) {}

    void report(double fraction)
    {
        const int percent = int(fraction * 100);
        if (percent == last_)
            return;
        last_ = percent;
        if (progress_)
            progress_(fraction);
    }

private:
    const SD2RecoveryProgress &progress_;
    int last_ = -1;
};

// What tells that a file changed while it was read: its size and nanosecond modification time,
// taken from the open descriptor so they describe the very file being copied.
struct ChangeStamp {
    qint64 size = 0;
    qint64 seconds = 0;
    qint64 nanoseconds = 0;

    bool operator==(const ChangeStamp &) const = default;

    static ChangeStamp of(const FileHandle &file)
    {
        const struct stat status = file.status();
        return {qint64(status.st_size), qint64(status.st_mtim.tv_sec), qint64(status.st_mtim.tv_nsec)};
    }
};

// Turns big-endian signed samples into the stored WAV order in place (8-bit: offset binary,
// wider: little-endian) and gives the same samples left-justified for the writer.
void convertChunk(QByteArray &bytes, int sampleBytes, std::vector<int32_t> &samples)
{
    auto *data = reinterpret_cast<uint8_t *>(bytes.data());
    const qsizetype count = bytes.size() / sampleBytes;
    samples.resize(size_t(count));
    for (qsizetype i = 0; i < count; ++i) {
        uint8_t *sample = data + i * sampleBytes;
        uint32_t value = 0;
        for (int b = 0; b < sampleBytes; ++b)
            value |= uint32_t(sample[b]) << (24 - 8 * b);
        samples[size_t(i)] = int32_t(value);
        if (sampleBytes == 1)
            sample[0] ^= 0x80;
        else
            std::reverse(sample, sample + sampleBytes);
    }
}

void checkParameters(const SD2Metadata &metadata)
{
    if (metadata.sampleBytes < 1 || metadata.sampleBytes > 4 || metadata.channels < 1 || metadata.channels > 2
        || metadata.sampleRate < SD2Metadata::minimumSampleRate
        || metadata.sampleRate > SD2Metadata::maximumSampleRate)
        throw SD2MetadataError(SD2MetadataError::Case::unsupported);
}

// The read-back: the copy's length must be exactly what the header promises and its PCM must
// hash to what was written.
void verifySavedPCM(const QString &path, qint64 bytes, const QByteArray &digest, const SD2RecoveryProgress &progress,
                    const CancellationToken &token)
{
    FileHandle copy = FileHandle::openForReading(path);
    copy.sync(); // the finished copy is on the disk before it is judged
    if (bytes < 1 || bytes > SD2RecoveryService::maximumDataBytes
        || copy.size() != WavIntegerWriter::headerBytes + bytes + (bytes & 1))
        throw SD2RecoveryError::verification();
    copy.seek(WavIntegerWriter::headerBytes);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    PercentReporter reporter(progress);
    qint64 remaining = bytes;
    while (remaining > 0) {
        token.throwIfCancelled();
        const QByteArray chunk = copy.readUpTo(std::min(remaining, SD2RecoveryService::chunkBytes));
        if (chunk.isEmpty())
            throw SD2RecoveryError::verification();
        hash.addData(chunk);
        remaining -= chunk.size();
        reporter.report(0.8 + 0.19 * (1 - double(remaining) / double(bytes)));
    }
    if (hash.result() != digest)
        throw SD2RecoveryError::verification();
}

} // namespace

SD2RecoveryProgress mainThreadProgress(QObject *receiver, std::function<void(double)> report)
{
    // The guard is made here, on the caller's thread, and only looked at on the main thread.
    return [receiver = QPointer<QObject>(receiver), report = std::move(report)](double fraction) {
        postToMainThread([receiver, report, fraction] {
            if (receiver)
                report(fraction);
        });
    };
}

SD2RecoveryService::SD2RecoveryService(StoreProvider store, ForkStore forks)
    : store_(std::move(store)), forks_(std::move(forks)), executor_(QStringLiteral("SD2 recovery"))
{
}

Async<SD2RecoveredCopyPointer> SD2RecoveryService::recover(AudioTrack track, int rate, SD2RecoveryProgress progress,
                                                           CancellationToken token)
{
    return executor_.submit([this, track = std::move(track), rate, progress = std::move(progress),
                             token = std::move(token)] { return recoverNow(track, rate, progress, token); });
}

Async<SD2RecoveredCopyPointer> SD2RecoveryService::prepare(AudioTrack track, SD2Metadata metadata,
                                                           SD2RecoveryProgress progress, CancellationToken token)
{
    return executor_.submit([this, track = std::move(track), metadata, progress = std::move(progress),
                             token = std::move(token)] { return prepareNow(track, metadata, progress, token); });
}

bool SD2RecoveryService::eligible(const QUrl &url, const ForkStore &forks)
{
    if (!SD2Identification::hasLegacyName(url) || !url.isLocalFile())
        return false;
    try {
        // A link is not a regular file here, and a FIFO cannot block the look.
        const FileHandle file = FileHandle::openOutside(url.toLocalFile(), LinkPolicy::NoFollow);
        const qint64 size = file.size();
        if (size < 1 || size > maximumDataBytes)
            return false;
        return !SD2MetadataReader::read(url, forks).has_value();
    } catch (const std::exception &) {
        return false;
    }
}

SD2RecoveredCopyPointer SD2RecoveryService::recoverNow(const AudioTrack &track, int rate,
                                                       const SD2RecoveryProgress &progress,
                                                       const CancellationToken &token) const
{
    TAMPOD_ASSERT_ON(executor_);
    MissingAudioSource::check(track.url(), track.displayName());
    if (!track.recovery || !eligible(track.url(), forks_))
        throw SD2RecoveryError::unsuitable();
    SD2Metadata parameters{2, rate, 2, std::nullopt, std::nullopt};
    if (track.recovery->requested) {
        parameters.sampleBytes = track.recovery->requested->sampleBytes;
        parameters.channels = track.recovery->requested->channels;
    } else if (track.recovery->copy) {
        parameters.sampleBytes = track.recovery->copy->sampleBytes();
        parameters.channels = track.recovery->copy->channels();
    }
    SD2RecoveredCopyPointer copy = prepareNow(track, parameters, progress, token);
    // Metadata that appeared meanwhile, or a source that went, make the copy meaningless;
    // dropping it removes its folder.
    if (!eligible(track.url(), forks_))
        throw SD2RecoveryError::changed();
    return copy;
}

SD2RecoveredCopyPointer SD2RecoveryService::prepareNow(const AudioTrack &track, const SD2Metadata &metadata,
                                                       const SD2RecoveryProgress &progress,
                                                       const CancellationToken &token) const
{
    TAMPOD_ASSERT_ON(executor_);
    checkParameters(metadata);
    token.throwIfCancelled();
    const QUrl source = track.url();
    MissingAudioSource::check(source, track.displayName());

    FileHandle input = FileHandle::openOutside(source.toLocalFile());
    const qint64 length = input.seekToEnd();
    const int frameBytes = metadata.sampleBytes * metadata.channels;
    if (length < 1 || length > maximumDataBytes)
        throw SD2RecoveryError::unsuitable();
    if (length % frameBytes != 0)
        throw SD2RecoveryError::incompleteFrame(std::uint64_t(length), frameBytes);
    input.seek(0);
    const ChangeStamp before = ChangeStamp::of(input);

    JobFolder folder(store_().makeDirectory());
    const QString path = folder.file(copyName);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    {
        WavIntegerWriter writer(path, metadata.sampleRate, metadata.channels, metadata.sampleBytes * 8, token);
        token.throwIfCancelled();
        // One pass reads, converts in place, writes and hashes the bytes as stored; the writer
        // takes the same samples left-justified.
        const qint64 chunk = chunkBytes / frameBytes * frameBytes;
        std::vector<int32_t> samples;
        PercentReporter reporter(progress);
        qint64 done = 0;
        for (;;) {
            const qint64 asked = std::min(length - done, chunk);
            QByteArray bytes = input.readUpTo(asked);
            if (bytes.size() != asked) // the end came early: the file shrank
                throw SD2RecoveryError::changed();
            convertChunk(bytes, metadata.sampleBytes, samples);
            writer.writeInt32Interleaved(samples.data(), asked / frameBytes);
            hash.addData(bytes);
            done += asked;
            reporter.report(double(done) / double(length) * 0.8);
            if (done == length)
                break;
            token.throwIfCancelled();
        }
        writer.finish(); // the pad byte and the final header
    }
    if (ChangeStamp::of(input) != before || !input.readUpTo(1).isEmpty())
        throw SD2RecoveryError::changed();
    token.throwIfCancelled();
    const QByteArray digest = hash.result();

    verifySavedPCM(path, length, digest, progress, token);
    const PCMFileDescription description = PCMFileDescription::read(path);
    if (description.frames != length / frameBytes || description.sampleRate != metadata.sampleRate
        || description.channels != metadata.channels || description.bitsPerSample != metadata.sampleBytes * 8)
        throw SD2RecoveryError::verification();
    if (progress)
        progress(1.0);
    token.throwIfCancelled();

    const QString pcmDigest = QString::number(metadata.sampleBytes) + QLatin1Char(':') +
                              QString::number(metadata.channels) + QLatin1Char(':') +
                              QString::fromLatin1(digest.toHex());
    auto copy = std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile(path), metadata.sampleRate,
                                                         description.frames, pcmDigest, metadata.sampleBytes,
                                                         metadata.channels);
    folder.keep(); // the copy owns the folder now
    return copy;
}

} // namespace tampod
