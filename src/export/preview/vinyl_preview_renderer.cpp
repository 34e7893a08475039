#include "export/preview/vinyl_preview_renderer.h"

#include "export/treatments/vinyl_texture.h"
#include "platform/encode/audio_file_writer.h"

#include <algorithm>
#include <vector>

namespace tampod::VinylPreviewRenderer {

std::shared_ptr<const PreparedExportPreview> prepare(const ExportPreviewRequest &request, const ExportProgress &progress,
                                                     const CancellationToken &token, const StoreProvider &store)
{
    auto folder = std::make_unique<JobFolder>(store().makeDirectory());
    const QString path = folder->file(QStringLiteral("sample.caf"));
    // Made at once, so that every failure below lets the folder go with it.
    auto preview = std::make_shared<const PreparedExportPreview>(request, QUrl::fromLocalFile(path), 1,
                                                                 std::move(folder));

    VinylTexture texture(request.settings.vinyl, sampleRate, channels, frames, request.mode, token);

    AudioWriteFormat format;
    format.type = AudioFileType::caf;
    format.sampleRate = sampleRate;
    format.channels = channels;
    format.bitsPerChannel = 32;
    format.isFloat = true;
    AudioFileWriter writer(path, format, token);

    std::vector<float> buffer(size_t(chunkFrames * channels));
    std::int64_t written = 0;
    while (written < frames) {
        token.throwIfCancelled();
        const std::int64_t length = std::min(chunkFrames, frames - written);
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        // Silence as the dry signal: the solo gains leave only the chosen layer.
        texture.mix(buffer.data(), length);
        writer.writeInterleaved(buffer.data(), length);
        if (progress)
            progress(double(written + length) / double(frames));
        written += length;
    }
    token.throwIfCancelled();
    writer.finish();
    return preview;
}

} // namespace tampod::VinylPreviewRenderer
