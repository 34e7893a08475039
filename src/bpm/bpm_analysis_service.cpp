#include "bpm/bpm_analysis_service.h"

#include "bpm/bpm_analysis_error.h"
#include "bpm/bpm_detector_core.h"
#include "bpm/bpm_precision.h"
#include "bpm/internal/analysis_signal.h"
#include "concurrency/thread_role.h"
#include "files/access/missing_audio_source.h"
#include "library/sd2_pair_audio.h"
#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_reader.h"

#include <cmath>
#include <new>

namespace tampod {

namespace {

constexpr double minimumRate = 1000;
constexpr double maximumRate = 384000;
constexpr std::uint32_t maximumChannels = 32;

[[noreturn]] void fail(BPMAnalysisError::Kind kind)
{
    throw BPMAnalysisError(kind);
}

// A read of the file that the system failed (a bad sector, a share that dropped) leaves the
// audio unread, as a short read does.
template <typename Work>
auto reading(Work &&work)
{
    try {
        return work();
    } catch (const AudioFileError &error) {
        if (error.kind() == AudioFileError::Kind::io)
            fail(BPMAnalysisError::Kind::unreadable);
        throw;
    }
}

} // namespace

BPMAnalysisService::BPMAnalysisService()
    : executor_(QStringLiteral("bpm-analysis"))
{
}

const std::shared_ptr<BPMAnalysisService> &BPMAnalysisService::shared()
{
    static const auto instance = std::make_shared<BPMAnalysisService>();
    return instance;
}

Async<double> BPMAnalysisService::detect(AudioTrack track, Progress progress, CancellationToken token)
{
    return executor_.submit([this, track = std::move(track), progress = std::move(progress),
                             token = std::move(token)] { return analyze(track, progress, token); });
}

void BPMAnalysisService::validate(std::int64_t frames, double rate, std::uint32_t channels)
{
    // An empty file is short, not long: it falls to the two-second rule below.
    if (frames < 0 || frames > maximumFrames)
        fail(BPMAnalysisError::Kind::limit);
    if (!std::isfinite(rate) || rate < minimumRate || rate > maximumRate || channels < 1
        || channels > maximumChannels)
        fail(BPMAnalysisError::Kind::unreadable);
    if (double(frames) / rate < minimumSeconds)
        fail(BPMAnalysisError::Kind::tooShort);
}

double BPMAnalysisService::analyze(const AudioTrack &track, const Progress &progress,
                                   const CancellationToken &token)
{
    TAMPOD_ASSERT_ON(executor_);
    const BPMCancellation cancellation(token);
    const auto report = [&progress](double fraction) {
        if (progress)
            progress(fraction);
    };

    cancellation.check();
    const QUrl url = track.audioURL();
    const QString name = track.displayName();
    MissingAudioSource::check(url, name);
    const QString path = url.toLocalFile();
    const QString stamp = AnalysisSignal::fileStamp(path);

    AudioFileReader file = reading([&] { return AudioFileReader(path, token); });
    const std::int64_t length = reading([&] { return file.length(); });
    validate(length, file.fileSampleRate(), std::uint32_t(std::max(file.channels(), 0)));
    const int channels = file.channels();

    std::vector<std::vector<float>> buffer;
    std::vector<float *> planes;
    try {
        buffer.assign(size_t(channels), std::vector<float>(size_t(chunkFrames)));
        for (auto &plane : buffer)
            planes.push_back(plane.data());
    } catch (const std::bad_alloc &) {
        fail(BPMAnalysisError::Kind::limit);
    }
    const double sampleRate = file.fileSampleRate();
    const double songLength = double(length) / sampleRate;
    report(0.02);

    // Reserved once at its final size (at most 256 MiB), so the decode never reallocates.
    std::vector<float> signal;
    try {
        signal.reserve(size_t(length));
    } catch (const std::bad_alloc &) {
        fail(BPMAnalysisError::Kind::limit);
    }

    int reportedPercent = 0;
    while (file.position() < length) {
        cancellation.check();
        const std::int64_t frames = reading(
            [&] { return file.readFloatPlanar(planes.data(), std::min(length - file.position(), chunkFrames)); });
        if (frames <= 0)
            fail(BPMAnalysisError::Kind::unreadable);
        if (std::int64_t(signal.size()) + frames > maximumFrames)
            fail(BPMAnalysisError::Kind::limit);
        const size_t base = signal.size();
        signal.resize(base + size_t(frames), 0.0f);
        for (int c = 0; c < channels; ++c) {
            if (!AnalysisSignal::addChannel(signal.data() + base, planes[size_t(c)], qsizetype(frames), float(channels)))
                fail(BPMAnalysisError::Kind::unreadable);
        }
        const int percent = int(double(signal.size()) * 35.0 / double(length));
        if (percent > reportedPercent) {
            report(percent / 100.0);
            reportedPercent = percent;
        }
    }
    if (std::int64_t(signal.size()) != length)
        fail(BPMAnalysisError::Kind::unreadable);

    AnalysisSignal::tameLevel(signal, cancellation);
    report(0.40);

    BPMCandidateSet set = BPMDetectorCore::analyzeTempoCandidates(
        signal, sampleRate, songLength, [&report](double fraction, const QString &) { report(fraction); },
        cancellation);
    report(0.72);

    if (!set.candidates.empty()) {
        BPMCandidate &top = set.candidates.front();
        if (const auto precise = BPMPrecision::estimate(signal, sampleRate, top.bpm, cancellation)) {
            const double rounded = std::round(*precise * 1000.0) / 1000.0;
            top = {rounded, top.score, top.rankingScore, rounded, std::nullopt};
        }
    }
    if (set.candidates.empty())
        fail(BPMAnalysisError::Kind::noPulse);
    const double tempo = set.candidates.front().bpm;
    if (!std::isfinite(tempo) || !(tempo > 0))
        fail(BPMAnalysisError::Kind::noPulse);

    cancellation.check();
    if (AnalysisSignal::fileStamp(path) != stamp)
        fail(BPMAnalysisError::Kind::changed);
    report(1.0);
    return tempo;
}

} // namespace tampod
