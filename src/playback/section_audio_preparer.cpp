#include "playback/section_audio_preparer.h"


#include "playback/section_preparation_error.h"

#include "concurrency/detached.h"
#include "files/access/missing_audio_source.h"
#include "files/store/job_folder.h"
#include "files/store/temporary_audio_safety.h"
#include "files/store/temporary_audio_store.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/encode/audio_file_writer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>
#include <vector>

namespace tampod {

namespace {

constexpr int maximumChannels = 32;
// Frame positions beyond 2^53 − 1 have no exact fraction.
constexpr std::int64_t maximumLength = 9007199254740991;
// A CAF working copy stays below 4 GB: 2^32 − 1 less 4,096 bytes of headers.
constexpr std::int64_t maximumWorkingCopyBytes = 4294963199;
// One buffer of this many samples across all channels serves the whole copy.
constexpr std::int64_t bufferSamples = 32768;

using Case = SectionPreparationError::Case;

// The nearest whole number, halves away from zero; x is finite and within 0…2^53.
std::int64_t nearest(double x)
{
    return static_cast<std::int64_t>(std::round(x));
}

} // namespace

Async<std::shared_ptr<const PreparedSection>> SectionAudioPreparer::prepare(AudioTrack track, SectionRange range,
                                                                            Progress progress,
                                                                            CancellationToken token)
{
    return runDetached(TaskPriority::UserInitiated,
                       [track = std::move(track), range, progress = std::move(progress), token = std::move(token)] {
                           return render(track, range, progress, token);
                       });
}

std::shared_ptr<const PreparedSection> SectionAudioPreparer::render(const AudioTrack &track, SectionRange range,
                                                                    const Progress &progress,
                                                                    const CancellationToken &token)
{
    token.throwIfCancelled();
    const QUrl url = track.audioURL();
    MissingAudioSource::check(url, track.displayName());
    // A pending SD2 file has no parameters to decode it with; it is never opened.
    if (track.waitsForRecovery())
        throw SectionPreparationError(Case::unsupported);

    AudioFileReader reader(url.toLocalFile(), token);
    const std::int64_t length = reader.length();
    const double rate = reader.processingSampleRate();
    const int channels = reader.channels();
    // The writer takes a whole rate; a range outside 0…1 has no frames to cut.
    if (length < 1 || length > maximumLength || !std::isfinite(rate) || rate <= 0 || rate > INT_MAX
        || rate != std::floor(rate) || channels < 1 || channels > maximumChannels || !range.isValid())
        throw SectionPreparationError(Case::unsupported);

    // At least one frame; a start at the end moves back to the last frame, an end past the
    // file is cut to its length.
    const std::int64_t startFrame = std::min(length - 1, nearest(range.start * double(length)));
    const std::int64_t endFrame = std::max(startFrame + 1, std::min(length, nearest(range.end * double(length))));
    if (startFrame >= endFrame)
        throw SectionPreparationError(Case::unsupported);
    if (startFrame == 0 && endFrame == length)
        return std::make_shared<const PreparedSection>(track, url, 0, length, length, rate, std::nullopt);

    const std::int64_t frames = endFrame - startFrame;
    if (frames > maximumWorkingCopyBytes / (std::int64_t(channels) * 4))
        throw SectionPreparationError(Case::tooLarge);
    const std::int64_t capacity = bufferSamples / channels;
    std::vector<float> buffer;
    try {
        buffer.resize(std::size_t(capacity * channels));
    } catch (const std::bad_alloc &) {
        throw SectionPreparationError(Case::tooLarge);
    }

    JobFolder folder(TemporaryAudioStore::shared().makeDirectory());
    const QString output = folder.url().toLocalFile() + QLatin1Char('/') + QLatin1String(fileName);
    reader.seek(startFrame);
    AudioWriteFormat format;
    format.type = AudioFileType::caf;
    format.sampleRate = int(rate);
    format.channels = channels;
    format.bitsPerChannel = 32;
    format.isFloat = true;
    AudioFileWriter writer(output, format, token);

    std::int64_t written = 0;
    bool reported = false;
    while (written < frames) {
        token.throwIfCancelled();
        const std::int64_t wanted = std::min(frames - written, capacity);
        const std::int64_t got = reader.readFloatInterleaved(buffer.data(), wanted);
        // A source that ends before the section does is not the file it claimed to be.
        if (got <= 0 || got > wanted)
            throw SectionPreparationError(Case::incomplete);
        writer.writeInterleaved(buffer.data(), got);
        // At most one report per whole percent, so the caller is woken at most 101 times.
        const auto before = std::uint64_t(written) * 100 / std::uint64_t(frames);
        written += got;
        const auto after = std::uint64_t(written) * 100 / std::uint64_t(frames);
        if ((!reported || after != before) && progress)
            progress(double(written) / double(frames));
        reported = true;
    }
    writer.finish();
    token.throwIfCancelled();

    AudioFileReader check(output, token);
    if (check.length() != frames || check.processingSampleRate() != rate || check.channels() != channels)
        throw SectionPreparationError(Case::incomplete);
    auto section = std::make_shared<const PreparedSection>(track, QUrl::fromLocalFile(output), startFrame, endFrame,
                                                           length, rate, folder.url());
    folder.keep();
    return section;
}

} // namespace tampod
