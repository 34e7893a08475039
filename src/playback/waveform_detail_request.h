#pragma once

#include <QHashFunctions>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace tampod {

// What one load of detail peaks is for: the record, its playable file at the time, and
// whether the waveform is zoomed (detail is loaded only then). A different request means the
// detail must be loaded again.
struct WaveformDetailRequest {
    std::optional<QUuid> trackID;
    std::optional<QUrl> audioURL;
    bool isZoomed = false;

    bool operator==(const WaveformDetailRequest &) const = default;
};

inline size_t qHash(const WaveformDetailRequest &request, size_t seed = 0) noexcept
{
    return qHashMulti(seed, request.trackID.value_or(QUuid()), request.trackID.has_value(),
                      request.audioURL.value_or(QUrl()), request.audioURL.has_value(), request.isZoomed);
}

} // namespace tampod
