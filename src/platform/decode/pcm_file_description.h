#pragma once

#include <QString>

#include <cstdint>

namespace tampod {

// What libsndfile reads from the header of an uncompressed audio file: a reader independent of
// our own writers and of the FFmpeg decoder, for checking the working copies we write.
struct PCMFileDescription {
    std::int64_t frames = 0;
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0; // 8, 16, 24 or 32 for integer PCM; 0 for any other coding

    // Throws SystemError when the file cannot be opened, AudioFileError when libsndfile
    // refuses it.
    static PCMFileDescription read(const QString &path);
};

} // namespace tampod
