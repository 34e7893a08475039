#include "export/engine/sd2_export_verification.h"

#include "core/file_handle.h"
#include "files/journal/audio_export_error.h"
#include "platform/forks/fork_store_error.h"
#include "sd2/sd2_metadata_reader.h"
#include "tags/sd2_document_tempo.h"
#include "tags/tempo_model.h"

namespace tampod::SD2ExportVerification {

namespace {

[[noreturn]] void fail()
{
    throw AudioExportError(AudioExportError::Case::verificationFailed);
}

} // namespace

void verify(const QUrl &url, const ExportDefaults &settings, int channels, std::optional<double> bpm,
            const ForkStore &forks)
{
    SD2Metadata expected;
    expected.sampleBytes = int(settings.bitDepth / 8);
    expected.sampleRate = int(settings.sampleRate);
    expected.channels = channels;
    if (bpm && TempoModel::isUsable(*bpm)) {
        expected.bpm = bpm;
        if (const auto record = SD2DocumentTempo::record(*bpm))
            expected.nativeBPM = SD2DocumentTempo::read(*record);
    }
    const auto metadata = SD2MetadataReader::read(url, forks);
    if (!metadata || *metadata != expected)
        fail();

    const QString path = url.toLocalFile();
    try {
        const auto fork = forks.read(path, SD2MetadataReader::inspectionLimit);
        if (!fork || fork->isEmpty())
            fail();
    } catch (const ForkStoreError &error) {
        if (error.kind() == ForkStoreError::Kind::tooLarge)
            fail();
        throw;
    }
    const auto status = statusOf(path, LinkPolicy::NoFollow);
    const qint64 bytesPerFrame = qint64(expected.sampleBytes) * channels;
    if (!status || status->st_size <= 0 || status->st_size % bytesPerFrame != 0)
        fail();
}

} // namespace tampod::SD2ExportVerification
