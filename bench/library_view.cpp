// Cost of the library pane at 10,000 rows: a full refresh (rows rebuilt, the table reset and
// drawn) and the two BPM-only updates (one detection's progress step, and a tempo found: the
// detected track's row rebuilt, its changed cells redrawn), each from the model's change to the
// drawn pane, in the main window's library place at the default window width. The peer does
// the same work the plain way, in the same place: a stock table view over a plain model of the
// same rows, built with nothing kept, reset for the full refresh, and for an update the same
// track's row built anew, found by a search and compared cell by cell with only the changed
// cells redrawn.

#include "process_race.h"

#include "player/player_model.h"
#include "views/kit/theme.h"
#include "views/library/audio_library_view.h"
#include "views/library/library_rows.h"
#include "views/library/library_table.h"
#include "views/library/library_table_model.h"

#include "bpm/bpm_analyzing.h"
#include "import/audio_importer.h"
#include "playback/audio_playback.h"
#include "playback/section_audio_preparer.h"
#include "sd2/sd2_recovery_service.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QTableView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>
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

// The texts of the rows in the eight columns, nothing cached, nothing reconciled.
class PlainModel final : public QAbstractTableModel {
public:
    void reset(std::vector<LibraryRow> rows)
    {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    // Rows already shown, each put in place of the row of its id: the changed cells are redrawn.
    void update(const std::vector<LibraryRow> &rows)
    {
        for (const LibraryRow &row : rows) {
            const auto found = std::find_if(rows_.begin(), rows_.end(), [&](const LibraryRow &r) { return r.id == row.id; });
            if (found == rows_.end())
                continue;
            const LibraryRow before = std::exchange(*found, row);
            const int i = int(found - rows_.begin());
            for (int column = 0; column < LibraryColumns::count; ++column) {
                if (text(row, column) != text(before, column))
                    Q_EMIT dataChanged(index(i, column), index(i, column));
            }
        }
    }
    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(rows_.size()); }
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : LibraryColumns::count; }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid())
            return {};
        return text(rows_[size_t(index.row())], index.column());
    }

private:
    static QString text(const LibraryRow &row, int column)
    {
        switch (column) {
        case LibraryColumns::name:
            return row.name;
        case LibraryColumns::bpm:
            return row.bpmStatus ? QStringLiteral("%1 %").arg(int(row.bpmStatus->progress * 100)) : row.bpm;
        case LibraryColumns::sampleRate:
            return row.sampleRate;
        case LibraryColumns::bits:
            return row.resolution;
        case LibraryColumns::repeat:
            return row.repeatSymbol ? QStringLiteral("R") : QString();
        case LibraryColumns::duration:
            return row.duration;
        case LibraryColumns::type:
            return row.type;
        default:
            return {};
        }
    }

    std::vector<LibraryRow> rows_;
};

// The paint events a widget receives.
struct PaintCount final : QObject {
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
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

    // The peer, in the same place of a window of its own.
    QWidget peerWindow;
    peerWindow.resize(607, 740);
    PlainModel plain;
    auto *peer = new QTableView(&peerWindow);
    peer->setModel(&plain);
    peer->verticalHeader()->hide();
    peer->verticalHeader()->setDefaultSectionSize(int(LibraryColumns::rowHeight));
    QFont font = peer->font();
    font.setPixelSize(int(LibraryColumns::fontSize));
    peer->setFont(font);
    peer->setGeometry(60, 242, 547, 498);
    peerWindow.show();
    settle();

    bench::Conditions conditions;
    std::vector<double> full, peerFull;
    for (int i = 0; i < 10; ++i) {
        pane->table()->apply({});
        settle();
        full.push_back(millisecondsOf([&] {
            pane->refresh();
            settle();
        }));
        plain.reset({});
        settle();
        peerFull.push_back(millisecondsOf([&] {
            plain.reset(libraryRows(player));
            settle();
        }));
    }

    // A detection on a row on screen without a tempo, stepping its progress.
    const auto detected = std::find_if(player.tracks().cbegin(), player.tracks().cend(),
                                       [](const AudioTrack &track) { return !track.effectiveBPM(); });
    player.getBPM(detected->id);
    settle();
    plain.reset(libraryRows(player));
    settle();
    PaintCount paints;
    pane->table()->viewport()->installEventFilter(&paints);
    std::vector<double> step, peerStep;
    for (int i = 1; i <= 50 && analysis->progress; ++i) {
        analysis->progress(i / 100.0);
        step.push_back(millisecondsOf(settle));
        peerStep.push_back(millisecondsOf([&] {
            plain.update(libraryRowsOf(player, detected->id));
            settle();
        }));
    }
    if (step.empty()) {
        say(QStringLiteral("the detection did not start"));
        return 1;
    }
    // Timed steps that drew nothing, or not what a full build shows, would prove nothing.
    const auto &shown = pane->table()->tableModel()->rows();
    if (paints.count < int(step.size()) || shown != libraryRows(player) || !shown.front().bpmStatus ||
        shown.front().bpmStatus->progress != 0.5) {
        say(QStringLiteral("the pane does not show the detection's progress"));
        return 1;
    }
    const double update = median(step);

    // Tempos found, each on a row on screen that had none, its detection halfway: from the
    // analysis's end to the drawn row.
    std::vector<double> found, peerFound;
    double tempo = 100;
    for (QUuid id = detected->id; found.size() < 15;) {
        const int before = paints.count;
        found.push_back(millisecondsOf([&] {
            auto end = [&] { return tempo; };
            analysis->state->run(end);
            settle();
        }));
        const bool drawn = paints.count > before;
        peerFound.push_back(millisecondsOf([&] {
            plain.update(libraryRowsOf(player, id));
            settle();
        }));
        const LibraryRow &row = pane->table()->tableModel()->row(
            int(std::find_if(player.tracks().cbegin(), player.tracks().cend(),
                             [&](const AudioTrack &track) { return track.id == id; }) - player.tracks().cbegin()));
        if (!drawn || row.bpm != QString::number(int(tempo)) || row.bpmStatus) {
            say(QStringLiteral("the pane does not show the tempo found"));
            return 1;
        }
        tempo += 1;
        // The next row without a tempo, brought on screen, its detection started and halfway.
        const auto next = std::find_if(player.tracks().cbegin(), player.tracks().cend(),
                                       [](const AudioTrack &track) { return !track.effectiveBPM(); });
        const int index = int(next - player.tracks().cbegin());
        id = next->id;
        pane->table()->scrollTo(pane->table()->tableModel()->index(index, 0));
        peer->scrollTo(plain.index(index, 0));
        player.getBPM(id);
        settle();
        analysis->progress(0.5);
        settle();
    }
    if (pane->table()->tableModel()->rows() != libraryRows(player)) {
        say(QStringLiteral("the pane does not show what a full build shows"));
        return 1;
    }
    const double foundUpdate = median(found);
    player.bpmDetection().cancelAll();
    if (analysis->state) {
        auto end = [] { return 0.0; };
        analysis->state->run(end);
    }
    settle();

    const double peerUpdate = median(peerStep);
    const double peerFoundUpdate = median(peerFound);
    conditions.finish();
    const QString measured = QStringLiteral("medians, on the main thread; ") + QString::fromStdString(conditions.text());
    say(QStringLiteral("full refresh at %1 rows: ours %2 ms, plain table %3 ms (plain / ours = %4; %5)")
            .arg(rowCount)
            .arg(fixed(median(full)), fixed(median(peerFull)), fixed(median(peerFull) / median(full)), measured));
    say(QStringLiteral("BPM-only update at %1 rows, progress step: ours %2 ms, plain table %3 ms (plain / ours = %4; %5)")
            .arg(rowCount)
            .arg(fixed(update), fixed(peerUpdate), fixed(peerUpdate / update), measured));
    say(QStringLiteral("BPM-only update at %1 rows, tempo found: ours %2 ms, plain table %3 ms (plain / ours = %4; %5)")
            .arg(rowCount)
            .arg(fixed(foundUpdate), fixed(peerFoundUpdate), fixed(peerFoundUpdate / foundUpdate), measured));
    const QString on = QStringLiteral(", ") + QString::fromStdString(conditions.text());
    say(QStringLiteral("GOAL library-bpm-update (progress step): %1 ms (target <= 16)").arg(fixed(update)) + on);
    say(QStringLiteral("GOAL library-bpm-update (tempo found): %1 ms (target <= 16)").arg(fixed(foundUpdate)) + on);
    return update <= 16 && foundUpdate <= 16 ? 0 : 1;
}
