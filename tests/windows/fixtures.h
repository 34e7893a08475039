#pragma once

#include "library/audio_track.h"
#include "library/sd2_pair_audio.h"

#include <QUrl>
#include <QUuid>

#include <memory>

namespace tampod::test {

inline AudioTrack track(const QString &path)
{
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(path));
    return track;
}

inline AudioTrack linkedPair()
{
    AudioTrack pairTrack = track(QStringLiteral("/music/take.L"));
    pairTrack.pair = std::make_shared<SD2PairAudio>(track(QStringLiteral("/music/take.L")),
                                                   track(QStringLiteral("/music/take.R")), nullptr);
    return pairTrack;
}

} // namespace tampod::test
