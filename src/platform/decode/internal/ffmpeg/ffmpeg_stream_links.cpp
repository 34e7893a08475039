#include "platform/decode/internal/ffmpeg/ffmpeg_stream.h"

#include "platform/audio_file_error.h"

#include <cstring>

namespace tampod {

// A chained Ogg file whose links change format has no one format to state, and the decoder
// would go on with the first link's: it is refused before any of it is delivered. (A plain
// stream, which our page reader described, has one link.)
void FfmpegStream::refuseChangingLinks()
{
    if (linksChecked_)
        return;
    if (!described_ && std::strcmp(inputFormat_->name, "ogg") == 0) {
        oggaudio::Chain chain = oggaudio::readChain(file_, fileSize_);
        if (chain.changesFormat)
            throw AudioFileError(AudioFileError::Kind::unsupported, AVERROR_PATCHWELCOME,
                                 decodingText(),
                                 QStringLiteral("the links of the chained stream change its format"));
        links_ = std::move(chain.links);
    }
    linksChecked_ = true;
}

// A plain Ogg stream or chain whose pages were checked states each link's length: its decode is
// trimmed to it here, not by the demuxer, which reads the end of a stream with one page of audio
// wrongly. Each link of a chain decodes with a decoder of its own, and seeks by the pages of the
// link that holds the target.
void FfmpegStream::followOggPages(const oggaudio::Described &described)
{
    oggPages_ = OggPageSeeker::open(file_, fileSize_, described);
    if (described.links.size() > 1) {
        int64_t end = 0;
        for (const oggaudio::DescribedLink &link : described.links) {
            links_.push_back({link.start, link.extradata});
            linkEnds_.push_back(end += link.frames);
        }
    }
    linksChecked_ = true;
}

// The end the demuxer asks the decoder to trim: the pages' length trims it instead.
void FfmpegStream::trimOggEnd()
{
    size_t size = 0;
    uint8_t *skip = av_packet_get_side_data(packet_.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (skip && size >= 8)
        std::memset(skip + 4, 0, 4);
}

// The packet read begins on a page of the next link.
bool FfmpegStream::entersNextLink() const
{
    return link_ + 1 < links_.size() && packet_->pos >= links_[link_ + 1].start;
}

// A header of the link begun, which its decoder already opened with.
bool FfmpegStream::isLinkHeader() const
{
    const auto *data = packet_->data;
    const int size = packet_->size;
    return (size >= 7 && (data[0] & 1) && std::memcmp(data + 1, "vorbis", 6) == 0)
           || (size >= 8
               && (std::memcmp(data, "OpusHead", 8) == 0 || std::memcmp(data, "OpusTags", 8) == 0));
}

// The link before has delivered all its frames: the next decodes as it would alone.
void FfmpegStream::beginNextLink()
{
    // A link whose decode fell short of its pages' length keeps the links after it in place.
    if (link_ < linkEnds_.size() && positionExact_ && filePosition_ + silence_ < linkEnds_[link_])
        silence_ = linkEnds_[link_] - filePosition_;
    ++link_;
    openDecoder(&links_[link_].extradata);
    linkEnding_ = false;
    linkHeaders_ = true;
}

} // namespace tampod
