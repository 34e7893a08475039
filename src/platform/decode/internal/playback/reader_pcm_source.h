#pragma once

#include "platform/decode/internal/playback/pcm_source.h"

#include <QString>

#include <memory>

namespace tampod {

// Opens a file for playback; throws the reader's typed error when it cannot be decoded.
std::unique_ptr<PcmSource> openPcmSource(const QString &path);

} // namespace tampod
