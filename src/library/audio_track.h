#pragma once

#include "library/audio_source_format.h"
#include "files/access/file_access_lease.h"
#include "library/rex_audio.h"
#include "library/sd2_metadata.h"
#include "library/sd2_metadata_audio.h"
#include "library/sd2_recovery.h"
#include "files/access/tracked_file_url.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <cstdint>
#include <memory>
#include <optional>

namespace tampod {

class SD2PairAudio;

// The library record of one recording, passed by value. The objects it refers to (the
// lease, the source access, the working copies, a linked pair) are shared, so a working
// copy's folder lasts until the last record holding it is gone.
struct AudioTrack {
    QUuid id;                                     // a fresh UUID for every record built
    TrackedFileURL _url;                          // read through url() and projectedURL()
    double duration = 0;                          // seconds
    std::optional<double> bpm;                    // from the file's tags (REX: original tempo)
    std::shared_ptr<const FileAccessLease> access; // the access under which it was imported
    std::optional<double> detectedBPM;
    std::optional<double> inheritedBPM;
    std::optional<QString> sd2MetadataNote;
    AudioSourceFormat importedFormat;
    std::optional<SD2Recovery> recovery;          // present without a copy: recovery pending
    std::optional<SD2MetadataAudio> metadataAudio;
    std::shared_ptr<const REXAudio> rexAudio;
    std::optional<SD2Metadata> sd2Format;
    std::shared_ptr<const SD2PairAudio> pair;     // set on the record of a linked .L/.R pair
    std::optional<std::int64_t> importedSD2Frames;

    // The confirmed current location of the source, or the placeholder; may touch the disk.
    QUrl url() const { return _url.wrappedValue(); }
    // The source URL exactly as it was loaded.
    const QUrl &projectedURL() const { return _url.projectedValue(); }

    bool isSD2() const;
    // An SD2 track whose recovered copy has not arrived: nothing to play, export or link yet.
    bool waitsForRecovery() const { return recovery && !recovery->copy; }
    // The file actually decoded: a working or listening copy when there is one, else url().
    QUrl audioURL() const;
    // The first usable tempo of the tag, the inherited and the detected one.
    std::optional<double> effectiveBPM() const;
    AudioSourceFormat sourceFormat() const;
    std::optional<std::int64_t> sd2FrameCount() const;
    std::optional<SD2Metadata> sd2Parameters() const;
    // The original files the record stands for: both channels' for a linked pair.
    QList<QUrl> originalURLs() const;
    QString exportStem() const;
    // The name the user knows the record by: a linked pair's name and " (L/R)", else the file
    // name it was loaded as, each byte that is not UTF-8 shown as U+FFFD.
    QString displayName() const;

    // "mm:ss" of whole seconds; minutes go beyond 59. Negative and non-finite count as 0.
    static QString durationText(double seconds);
};

} // namespace tampod
