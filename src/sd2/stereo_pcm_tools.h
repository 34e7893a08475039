#pragma once

#include "concurrency/cancellation.h"

#include <QUrl>

#include <cstdint>
#include <functional>

// Two file-to-file operations on integer PCM: join interleaves two mono files into one stereo
// WAVE file, split de-interleaves a stereo file into two mono WAVE files. Nothing is resampled,
// trimmed, padded or dithered: every sample comes out as it went in. Output files are written
// with the plain 44-byte WAVE header, created exclusively (never over an existing file or
// through a link). Both run on the calling thread, in chunks of chunkFrames with three buffers
// of that size whatever the length, and check the token before each chunk and at the end.
namespace tampod::StereoPCMTools {

inline constexpr std::int64_t chunkFrames = 8192;

struct Result {
    std::int64_t frames = 0; // stereo frames written, the length of each input
    int sampleRate = 0;      // the left input's rate
};

// Called after every chunk with the fraction done; the last report is exactly 1.0.
using Progress = std::function<void(double)>;

// Whether a stereo file of frames at bits per sample stays within the WAVE working-copy limit
// (2^32 − 45 data bytes): 24-bit up to 715,827,875 frames, 32-bit up to 536,870,906.
bool fitsSizeLimit(int bits, std::int64_t frames);

// Both inputs mono, of one rate and one length of at least a frame, integer PCM of exactly bits
// bits; bits 8, 16, 24 or 32 and nothing at destination. An input that changes (size or
// modification time) while it is read fails with SD2RecoveryError::changed. On failure no
// destination file is left.
Result join(const QUrl &left, const QUrl &right, const QUrl &destination, int bits, const Progress &progress,
            const CancellationToken &token = {});

// A stereo source of at least a frame into two mono files at bits; neither destination may
// exist. On failure neither destination file is left.
void split(const QUrl &source, const QUrl &left, const QUrl &right, int bits, const CancellationToken &token = {});

} // namespace tampod::StereoPCMTools
