// Developer tool: exports one audio file as the export sheet does (render, encode, tag, decode
// back in full, publish), with a temporary-audio store of its own, at the source's rate, tempo
// 120. The export benchmark times this whole process against the command-line encoders, so
// start-up counts on both sides.
//
//   export_file STORE_FOLDER SOURCE DESTINATION FORMAT BITS [treated]
//
// FORMAT is a saved format name (wav, aiff, flac, m4aAAC, ...); "treated" adds Vinyl and Hum,
// clipping and 12-bit lo-fi.

#include "core/error.h"
#include "core/number_text.h"
#include "export/engine/audio_file_exporter.h"
#include "platform/decode/audio_file_reader.h"

#include <QFileInfo>

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string_view>

using namespace tampod;

int main(int argc, char **argv)
{
    const auto parsed = argc >= 6 ? NumberText::parse(std::string_view(argv[5])) : std::nullopt;
    const auto bits = parsed ? NumberText::toInt32(*parsed) : std::nullopt;
    const auto format = argc >= 5 ? ExportFormats::fromRawValue(QString::fromLocal8Bit(argv[4])) : std::nullopt;
    const bool treated = argc == 7 && std::string_view(argv[6]) == "treated";
    if (!bits || !format || argc < 6 || argc > 7 || (argc == 7 && !treated)) {
        std::fputs("usage: export_file STORE_FOLDER SOURCE DESTINATION FORMAT BITS [treated]\n", stderr);
        return 2;
    }
    try {
        const auto absolute = [](const char *path) { return QFileInfo(QString::fromLocal8Bit(path)).absoluteFilePath(); };
        const QString source = absolute(argv[2]);
        const auto store = std::make_shared<TemporaryAudioStore>(QUrl::fromLocalFile(absolute(argv[1])));
        ExportEnvironment environment;
        environment.store = [store]() -> TemporaryAudioStore & { return *store; };
        AudioExportRequest request;
        request.track.id = QUuid::createUuid();
        request.track._url = TrackedFileURL(QUrl::fromLocalFile(source));
        request.track.bpm = 120.0;
        request.settings.format = *format;
        request.settings.bitDepth = std::int64_t(*bits);
        const auto rate = NumberText::toInt32(std::round(AudioFileReader(source).fileSampleRate()));
        if (!rate)
            throw std::runtime_error("the source has no usable sample rate");
        request.settings.sampleRate = *rate;
        if (treated) {
            request.settings.vinyl.enabled = true;
            request.settings.vinyl.humEnabled = true;
            request.settings.clippingDB = 3;
            request.settings.loFi = LoFiTreatment::twelveBit;
        }
        request.destination = QUrl::fromLocalFile(absolute(argv[3]));
        const AudioExportResult result = AudioFileExporter::run(request, {}, {}, environment);
        std::fputs((NumberText::whole(result.frames) + "\n").c_str(), stdout);
    } catch (...) {
        std::fputs((errorText(std::current_exception()).toLocal8Bit() + "\n").constData(), stderr);
        return 1;
    }
    return 0;
}
