// Cost of the library pane at 10,000 rows: a full refresh (rows rebuilt, the table reset and
// drawn) and a BPM-only update (one detection's progress step: rows rebuilt, one cell redrawn),
// each from the model's change to the drawn pane, in the main window's library place at the
// default window width. As the peer, the rows alone.

#include "player/player_model.h"
#include "views/kit/theme.h"
#include "views/library/audio_library_view.h"
#include "views/library/library_rows.h"
#include "views/library/library_table.h"

#include "bpm/bpm_analyzing.h"
#include "import/audio_importer.h"
#include "playback/audio_playback.h"
#include "playback/section_audio_preparer.h"
#include "sd2/sd2_recovery_service.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

using namespace tampod;

namespace {

constexpr int rowCount = 10000;

void say(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

QString fixed(double value)
{
    return QString::number(value, 'f', 3);
}

// An analysis that only reports the progress the bench asks for, and never ends on its own.
class SteppedAnalysis final : public BPMAnalyzing {
public:
    Progress progress;
    std::shared_ptr<detail::AsyncState<double>> state;

    Async<double> detect(AudioTrack, Progress report, CancellationToken) override
    {
        progress = std::move(report);
        state = std::make_shared<detail::AsyncState<double>>();
        return Async<double>(state);
    }
};

void settle()
{
    for (int i = 0; i < 4; ++i)
        QApplication::processEvents();
}

double median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double millisecondsOf(const std::function<void()> &work)
{
    const auto begin = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Theme::applyDarkAppearance(app);

    auto analysis = std::make_shared<SteppedAnalysis>();
    PlayerModel player(std::make_shared<AudioPlayback>(), std::make_shared<AudioImporter>(),
                       std::make_shared<SD2RecoveryService>(), std::make_shared<SectionAudioPreparer>(), analysis);
    QList<AudioTrack> tracks;
    for (int i = 0; i < rowCount; ++i) {
        AudioTrack track;
        track.id = QUuid::createUuid();
        track._url = TrackedFileURL(QUrl::fromLocalFile(QStringLiteral("/nonexistent/bench/take %1.wav").arg(i)));
        track.duration = 60 + i % 600;
        if (i % 3)
            track.bpm = 90 + i % 80;
        track.importedFormat.sampleRate = 44100;
        track.importedFormat.resolution = AudioSourceFormat::Resolution::integer(16);
        tracks.append(track);
    }
    player.append(tracks);

    // The library's place in a window at the default width of 607.
    QWidget window;
    window.resize(607, 740);
    auto *pane = new AudioLibraryView(player, {}, &window);
    pane->setGeometry(60, 242, 547, 498);
    window.show();
    settle();

    const double rowsOnly = median([&] {
        std::vector<double> times;
        for (int i = 0; i < 20; ++i)
            times.push_back(millisecondsOf([&] { (void)libraryRows(player); }));
        return times;
    }());

    std::vector<double> full;
    for (int i = 0; i < 10; ++i) {
        pane->table()->apply({});
        settle();
        full.push_back(millisecondsOf([&] {
            pane->refresh();
            settle();
        }));
    }

    // A detection on a row on screen without a tempo, stepping its progress.
    const auto detected = std::find_if(player.tracks().cbegin(), player.tracks().cend(),
                                       [](const AudioTrack &track) { return !track.effectiveBPM(); });
    player.getBPM(detected->id);
    settle();
    std::vector<double> step;
    for (int i = 1; i <= 50 && analysis->progress; ++i) {
        analysis->progress(i / 100.0);
        step.push_back(millisecondsOf(settle));
    }
    if (step.empty()) {
        say(QStringLiteral("the detection did not start"));
        return 1;
    }
    const double update = median(step);
    player.bpmDetection().cancelAll();
    if (analysis->state) {
        auto end = [] { return 0.0; };
        analysis->state->run(end);
    }
    settle();

    say(QStringLiteral("rows alone, nothing kept, at %1 rows: %2 ms (peer)").arg(rowCount).arg(fixed(rowsOnly)));
    say(QStringLiteral("full refresh at %1 rows: %2 ms").arg(rowCount).arg(fixed(median(full))));
    say(QStringLiteral("BPM-only update at %1 rows: %2 ms (update / rows alone = %3)")
            .arg(rowCount)
            .arg(fixed(update), fixed(update / rowsOnly)));
    say(QStringLiteral("GOAL library-bpm-update: %1 ms (target <= 16)").arg(fixed(update)));
    return update <= 16 ? 0 : 1;
}
