// The Ogg page reader (identification headers, the Vorbis setup, every page's checksum and granule) over
// arbitrary bytes: whatever it describes must be a stream the reader can take, with a length, of
// links that follow each other. The
// link check, the list of a chain's links (in order, within the file) and the seek's bisection
// walk the same bytes: the page found must time packets at
// or before the target and lie within the file.
#include "core/file_handle.h"
#include "platform/decode/internal/decode_limits.h"
#include "platform/decode/internal/ogg/ogg_audio_info.h"
#include "platform/decode/internal/ogg/ogg_page_seeker.h"

#include "memory_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const tampod::FileHandle file = tampod::FileHandle::openOutside(fuzz::memoryFile(data, size));
    const tampod::oggaudio::Chain chain = tampod::oggaudio::readChain(file, file.size());
    if (chain.changesFormat && !chain.links.empty())
        std::abort();
    int64_t previous = -1;
    for (const auto &link : chain.links) {
        if (link.start <= previous || link.start >= file.size() || link.extradata.isEmpty())
            std::abort();
        previous = link.start;
    }
    // The links described lie in order within the Ogg data, each with a length, together the
    // stream's; a seek by them finds pages within the link that holds the target.
    if (const auto described = tampod::oggaudio::describeLinks(file, 0, file.size())) {
        int64_t end = 0, total = 0;
        for (const auto &link : described->links) {
            if (link.start != end || link.audioStart <= link.start || link.end <= link.audioStart
                || link.end > described->dataEnd || link.frames <= 0 || link.excess < 0 || link.extradata.isEmpty())
                std::abort();
            end = link.end;
            total += link.frames;
        }
        if (described->links.empty() || end != described->dataEnd || described->dataEnd > file.size()
            || total != described->stream.exactLength)
            std::abort();
        if (auto seeker = tampod::OggPageSeeker::open(file, file.size(), *described)) {
            for (const int64_t from : {int64_t(1), total / 3, total - 1}) {
                const auto page = seeker->pageBefore(from);
                if (page && (page->offset < 0 || page->end() > described->dataEnd || page->granule < 0))
                    std::abort();
            }
        }
    }
    const auto stream = tampod::oggaudio::describe(file, 0, file.size());
    // The bisection also meets files whose pages changed since they were described.
    const int64_t length = stream ? stream->exactLength : int64_t(size) * 4;
    if (auto seeker = tampod::OggPageSeeker::open(file, file.size(), length)) {
        for (const int64_t from : {int64_t(1), length / 3, length - 1, length + 1}) {
            const auto page = seeker->pageBefore(from);
            if (page && (page->offset < 0 || page->end() > file.size() || page->granule < 0))
                std::abort();
        }
    }
    if (!stream)
        return 0;
    const bool opus = stream->codec == tampod::AudioCodecKind::opus;
    if ((!opus && stream->codec != tampod::AudioCodecKind::vorbis) || (opus && stream->sampleRate != 48000)
        || stream->channels < 1 || stream->channels > tampod::decodelimits::maximumChannels || stream->sampleRate < 1
        || stream->sampleRate > tampod::decodelimits::maximumSampleRate || stream->exactLength <= 0)
        std::abort();
    return 0;
}
