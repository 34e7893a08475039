#pragma once

#include <QString>

namespace tampod {

// The coding of a file's audio stream, by family.
enum class AudioCodecKind {
    lpcm,
    flac,
    alac,
    aac, // every AAC profile (LC, HE, HEv2, LD, ELD)
    mpegLayer1,
    mpegLayer2,
    mpegLayer3,
    ac3,
    eac3,
    opus,
    vorbis,
    other,
};

// What a file's stream description says, as the library and the importer read it.
struct AudioFileFormat {
    AudioCodecKind codec = AudioCodecKind::other;
    bool isFloat = false;         // PCM samples are IEEE floats
    bool isSignedInteger = false; // PCM samples are signed integers (8-bit WAV is unsigned)
    int bitsPerChannel = 0;       // 0 when the coding has no fixed sample size
    double sampleRate = 0;
    int channels = 0;
    int alacSourceBitDepth = 0; // ALAC only: 16, 20, 24 or 32; 0 otherwise
    QString container;          // the demuxer that recognised the file, e.g. "wav", "flac"

    bool operator==(const AudioFileFormat &) const = default;
};

} // namespace tampod
