#pragma once

// Private to the platform module.

#include "platform/decode/audio_file_format.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

namespace tampod {
class FileHandle;
}

namespace tampod::oggaudio {

// One Vorbis or Opus stream in an Ogg file, read from every page.
struct Stream {
    AudioCodecKind codec = AudioCodecKind::other;
    int sampleRate = 0;
    int channels = 0;
    // What the decoder delivers from the first frame to the end: the last granule position
    // less the stream's starting granule (and less Opus pre-skip), the end trimmed as the last
    // page's granule says. Of a chain, its links' together.
    int64_t exactLength = 0;
};

// One link of a file its pages describe: where its pages lie and what it delivers.
struct DescribedLink {
    int64_t start = 0;      // its first page
    int64_t audioStart = 0; // its first page of audio
    int64_t end = 0;        // the end of its last page
    uint32_t serial = 0;
    int64_t frames = 0;      // what its decode delivers, as its pages state
    int64_t lastGranule = 0; // of its last page
    int64_t excess = 0;      // what its decoder delivers past the end, untrimmed
    QByteArray extradata;    // the headers its decoder opens with
};

struct Described {
    Stream stream;
    std::vector<DescribedLink> links; // in file order, one or more
    int64_t dataEnd = 0;              // the end of the last page: what follows is no Ogg data
};

// nullopt unless the file from start to its last page is one logical Vorbis or Opus stream, or
// a chain of such streams alike in codec, channels and rate, whose pages say its length
// exactly: per link, headers ending on a page of their own, audio pages (one that ends the link
// too, for Vorbis), every page intact (its checksum holds) and next by sequence number, each
// granule where the durations of the packets so far put it, and a last page that ends the
// stream and whose granule lies within its own packets. Bytes after the last page (a tag) are
// no part of it. Anything else (multiplexed streams, damaged, missing or repeated pages, a cut
// end) is left to a full decode, which counts the length.
// Throws only when reading the file fails.
std::optional<Described> describeLinks(const FileHandle &file, int64_t start, int64_t fileSize);
std::optional<Stream> describe(const FileHandle &file, int64_t start, int64_t fileSize);

// One link of a chained file: where its first page lies, and the headers a decoder of that link
// alone opens with (Opus: its identification; Vorbis: its three headers, laced as the demuxer
// hands them on).
struct Link {
    int64_t start = 0;
    QByteArray extradata;
};

// What one walk through the pages of a chained file finds. Pages that are damaged are passed over.
struct Chain {
    // Whether a later link changes the codec, channel count or sample rate of the first link's
    // Vorbis, Opus or FLAC stream: the demuxer goes on as if it had not (with the first link's
    // decoder, or not at all), and the file has no one format to state. Pages that belong to no
    // such stream are passed over.
    bool changesFormat = false;
    // The links of a chain of Vorbis or Opus links alike in format, in order; empty unless the
    // file holds two or more and every link begins with headers that read as those of one plain
    // stream.
    std::vector<Link> links;
};

// Throws only when reading the file fails.
Chain readChain(const FileHandle &file, int64_t fileSize);

} // namespace tampod::oggaudio
