#pragma once

#include "concurrency/cancellation.h"
#include "export/audio_export_serving.h"
#include "export/preview/export_preview_request.h"
#include "files/store/temporary_audio_store.h"

#include <cstdint>
#include <functional>
#include <memory>

// The Vinyl and Hum auditions: one minute of the chosen layer alone, at exactly the level it
// has in an export with the same settings, written to "sample.caf" (48 kHz stereo float) in a
// job folder that the returned preview owns. Runs on the calling thread.
namespace tampod::VinylPreviewRenderer {

inline constexpr int sampleRate = 48000;
inline constexpr int channels = 2;
inline constexpr std::int64_t frames = 2'880'000;
inline constexpr std::int64_t chunkFrames = 8192;

using StoreProvider = std::function<TemporaryAudioStore &()>;

// Progress after every chunk, the last exactly 1.0. Levels outside 0...100 fail before the file
// exists; on any failure, cancellation included, the job folder is gone.
std::shared_ptr<const PreparedExportPreview> prepare(const ExportPreviewRequest &request, const ExportProgress &progress,
                                                     const CancellationToken &token,
                                                     const StoreProvider &store = &TemporaryAudioStore::shared);

} // namespace tampod::VinylPreviewRenderer
