#pragma once

#include "files/store/working_copy_folder.h"

#include <QString>
#include <QUrl>

#include <cstdint>

namespace tampod {

// A verified WAV working copy of headerless SD2 audio. Holders share it
// (std::shared_ptr<const SD2RecoveredCopy>); the job folder holding the copy is removed when
// the last holder lets go.
class SD2RecoveredCopy {
public:
    // Takes over the folder that contains url.
    SD2RecoveredCopy(QUrl url, int sampleRate, std::int64_t frames, QString pcmDigest, int sampleBytes,
                     int channels);
    SD2RecoveredCopy(const SD2RecoveredCopy &) = delete;
    SD2RecoveredCopy &operator=(const SD2RecoveredCopy &) = delete;

    const QUrl &url() const { return url_; }
    int sampleRate() const { return sampleRate_; }
    std::int64_t frames() const { return frames_; }
    // "<sampleBytes>:<channels>:<SHA-256 of the PCM as written, lower-case hex>"
    const QString &pcmDigest() const { return pcmDigest_; }
    int sampleBytes() const { return sampleBytes_; }
    int channels() const { return channels_; }

private:
    const QUrl url_;
    const int sampleRate_;
    const std::int64_t frames_;
    const QString pcmDigest_;
    const int sampleBytes_;
    const int channels_;
    WorkingCopyFolder folder_;
};

} // namespace tampod
