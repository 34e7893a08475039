#pragma once

#include "concurrency/serial_executor.h"
#include "export/audio_export_serving.h"
#include "files/store/temporary_audio_store.h"
#include "platform/forks/fork_store.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace tampod {

// What the exporters work with beyond the request: the temporary-audio store whose staging
// folders they use, and the resource-fork store of SD2 output.
struct ExportEnvironment {
    std::function<TemporaryAudioStore &()> store = &TemporaryAudioStore::shared;
    ForkStore forks;
    // The destination lies in another export's staging folder, so this export stages there.
    bool insideStaging = false;
    // The output is an encoder's input, read once and removed: it carries no tempo.
    bool intermediate = false;

    ExportEnvironment inside() const
    {
        ExportEnvironment nested = *this;
        nested.insideStaging = true;
        return nested;
    }
};

// The single entry point of the export engine. It hands separate-mono SD2 pairs to the pair
// exporter and FLAC and M4A output to the compressed exporter, and itself writes the integer
// PCM formats (WAV, AIFF, SD2): the source (or the prepared loop section, repeated) is read in
// chunks, converted in rate and channels, optionally treated (Vinyl/Hum, clipping, lo-fi),
// tagged with its tempo, read back and checked by a reader independent of the writer, and
// published from a staging folder beside the destination by a rename that never replaces a
// file. The source is never written, and no destination file exists unless the whole export
// succeeded. An actor: one export at a time on its own worker.
class AudioFileExporter final : public AudioExportServing {
public:
    // Bytes an output (or its uncompressed intermediate) may hold: 1 MiB + 1 byte under 4 GiB.
    static constexpr std::int64_t sizeLimit = 4293918719;
    static constexpr std::int64_t chunkFrames = 8192;

    explicit AudioFileExporter(ExportEnvironment environment = {});

    Async<AudioExportResult> exportAudio(AudioExportRequest request, ExportProgress progress,
                                         CancellationToken token) override;

    // The same export on the calling thread (a destination folder reached through a link is
    // settled to the real folder first): what the actor runs, and what the exporters that
    // render through this one call in turn on their own workers.
    static AudioExportResult run(const AudioExportRequest &request, const ExportProgress &progress,
                                 const CancellationToken &token, const ExportEnvironment &environment);

    // Refuses a destination that is one of the track's source files, its decoded file or the
    // loop's file, by path with links resolved or by file identity (sourceDestinationConflict),
    // and one where anything already is, a dangling link included (destinationExists); for
    // SD2 output also one whose "._" or ".AppleDouble" companion exists.
    static void checkDestination(const AudioExportRequest &request);

    // A source whose samples the export would copy unchanged: integer PCM no deeper than the
    // output, at its rate and channels, with no loop or treatment.
    struct VerbatimSource {
        QString path;
        int bits = 0;
        std::int64_t frames = 0;
        int channels = 0;
    };

    // The PCM path's source checks without writing anything: the track is not waiting for
    // recovery, the source is there and decodable, mono or stereo, not empty, the loop's file
    // matches its section, and the output fits the size limit. The compressed exporter runs
    // them on its render before it makes its staging folder, and encodes a verbatim source
    // itself instead of a render that would only copy it.
    static std::optional<VerbatimSource> preflight(const AudioExportRequest &request, const CancellationToken &token);

private:
    struct Source;
    static Source openSource(const AudioExportRequest &request, const CancellationToken &token);
    static AudioExportResult dispatch(const AudioExportRequest &request, const ExportProgress &progress,
                                      const CancellationToken &token, const ExportEnvironment &environment);
    static AudioExportResult exportPCM(const AudioExportRequest &request, const ExportProgress &progress,
                                       const CancellationToken &token, const ExportEnvironment &environment);

    const ExportEnvironment environment_;
    // Last: its destructor finishes a running export first.
    SerialExecutor executor_;
};

} // namespace tampod
