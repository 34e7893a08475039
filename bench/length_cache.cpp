// What a joined MP3 (two files put one after the other, so no header states its length) costs
// after import, against a plain twin of the same length: the bytes each step reads (the
// process's read counter, as a share of the file's size) and the CPU it spends. Steps in the
// order a user takes them: import, player open, export to WAV, tempo detection, three
// waveform reads (the whole file, then zoomed into the middle and near the end). Only the
// import should have to decode a joined file to learn its length, and only the import should
// walk a plain file's frames to prove the length its Info header states.
//
//   bench_length_cache [MINUTES...]     (default: 10 60)

#include "process_race.h"

#include "bpm/bpm_analysis_service.h"
#include "core/number_text.h"
#include "export/engine/audio_file_exporter.h"
#include "files/store/temporary_audio_store.h"
#include "import/native_audio.h"
#include "platform/output/audio_file_player.h"
#include "platform/output/audio_output.h"
#include "platform/output/null_audio_output.h"
#include "playback/waveform_reader.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace tampod;
using namespace tampod::bench;

namespace {


double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

bool encode(const QString &path, int seconds)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-v", "error", "-y", "-f", "lavfi", "-i",
                  QStringLiteral("anoisesrc=r=44100:a=0.2:d=%1").arg(seconds), "-af", "apulsator=hz=2", "-ac", "2",
                  "-c:a", "libmp3lame", "-b:a", "128k", path});
    return ffmpeg.waitForFinished(-1) && ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0;
}

bool join(const QString &part, const QString &joined)
{
    QFile in(part), out(joined);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = in.readAll();
    return out.write(bytes) == bytes.size() && out.write(bytes) == bytes.size();
}

AudioTrack trackOf(const QString &path)
{
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(path));
    return track;
}

struct Cost {
    double reads = 0; // in file sizes
    double cpu = 0;
    double seconds = 0;
};

Cost measure(const QString &path, const std::function<void()> &step)
{
    const double size = double(QFileInfo(path).size());
    const double bytes = bytesRead(), cpu = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    step();
    Cost cost;
    cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.cpu = cpuSeconds() - cpu;
    cost.reads = (bytesRead() - bytes) / size;
    return cost;
}

struct Step {
    std::string name;
    std::function<void(const QString &)> run;
    bool longFiles; // also run on files of an hour and more
};

std::vector<Step> steps(const QString &folder)
{
    const auto waveform = [](WaveformViewport viewport) {
        return [viewport](const QString &path) {
            if (WaveformReader::peaks(trackOf(path), viewport, 1024, std::nullopt).isEmpty())
                throw std::runtime_error("no waveform");
        };
    };
    return {
        {"import", [](const QString &path) {
             if (!NativeAudio::open(path, {}).playable)
                 throw std::runtime_error("not playable");
         }, true},
        {"player open", [](const QString &path) {
             AudioFilePlayer player(path);
             if (!player.prepareToPlay())
                 throw std::runtime_error("does not play");
         }, true},
        {"export", [folder](const QString &path) {
             const auto store = std::make_shared<TemporaryAudioStore>(QUrl::fromLocalFile(folder));
             ExportEnvironment environment;
             environment.store = [store]() -> TemporaryAudioStore & { return *store; };
             AudioExportRequest request;
             request.track = trackOf(path);
             request.settings.format = ExportFormat::wav;
             request.settings.bitDepth = 16;
             request.settings.sampleRate = 44100;
             const QString out = folder + "/export.wav";
             request.destination = QUrl::fromLocalFile(out);
             AudioFileExporter::run(request, {}, {}, environment);
             QFile::remove(out);
         }, false},
        {"tempo", [](const QString &path) {
             try {
                 BPMAnalysisService::shared()->detect(trackOf(path), {}, {}).wait();
             } catch (const std::exception &) {
                 // no tempo found is a result too
             }
         }, false},
        {"waveform whole", waveform({0, 1}), true},
        {"waveform middle", waveform(WaveformViewport::centered(0.5, 16)), true},
        {"waveform end", waveform(WaveformViewport::centered(0.93, 16)), true},
    };
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    AudioOutput::setShared(std::make_shared<NullAudioOutput>());
    std::vector<int> minutes;
    for (int i = 1; i < argc; ++i)
        if (const auto n = NumberText::parse(std::string_view(argv[i])))
            minutes.push_back(int(*n));
    if (minutes.empty())
        minutes = {10, 60};
    QTemporaryDir dir;
    const QString folder = dir.path();
    double worstExtraReads = 0, worstWaveformCpu = 0, worstOpenSeconds = 0, plainOpenReads = 0;
    for (const int length : minutes) {
        const QString plain = folder + QStringLiteral("/plain%1.mp3").arg(length);
        const QString part = folder + QStringLiteral("/part%1.mp3").arg(length);
        const QString joined = folder + QStringLiteral("/joined%1.mp3").arg(length);
        if (!encode(plain, length * 60) || !encode(part, length * 30) || !join(part, joined)) {
            say("could not make the MP3 files (ffmpeg with libmp3lame)");
            return 1;
        }
        say(std::to_string(length) + " min, 128 kb/s: reads in file sizes and CPU seconds, plain | joined");
        for (const Step &step : steps(folder)) {
            if (length >= 60 && !step.longFiles)
                continue;
            const Cost a = measure(plain, [&] { step.run(plain); });
            const Cost b = measure(joined, [&] { step.run(joined); });
            say("  " + step.name + std::string(16 - step.name.size(), ' ') + fixed(a.reads, 2) + "x " +
                fixed(a.cpu, 3) + " s | " + fixed(b.reads, 2) + "x " + fixed(b.cpu, 3) + " s (wall " +
                fixed(b.seconds, 3) + " s)");
            if (step.name == "import")
                continue; // the one step that has to count
            // A plain file's header count is proved by the import's open: later ones take it.
            if (step.name == "player open")
                plainOpenReads = std::max(plainOpenReads, a.reads);
            worstExtraReads = std::max(worstExtraReads, b.reads - a.reads);
            if (step.name.starts_with("waveform"))
                worstWaveformCpu = std::max(worstWaveformCpu, b.cpu / std::max(a.cpu, 1e-3));
            if (step.name == "player open")
                worstOpenSeconds = std::max(worstOpenSeconds, b.seconds);
        }
        QFile::remove(plain);
        QFile::remove(part);
        QFile::remove(joined);
    }
    say("GOAL joined-extra-reads-after-import: " + fixed(worstExtraReads, 2) + " (target <= 1.0)");
    say("GOAL joined-waveform-cpu-ratio: " + fixed(worstWaveformCpu, 2) + " (target <= 1.3)");
    say("GOAL joined-player-open-seconds: " + fixed(worstOpenSeconds, 2) + " (target <= 0.5)");
    say("GOAL plain-player-open-reads: " + fixed(plainOpenReads, 2) + " (target <= 0.1)");
    return 0;
}
