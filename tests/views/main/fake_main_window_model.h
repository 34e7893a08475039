#pragma once

#include "views/main/main_window_model.h"

#include "core/number_text.h"
#include "export/session/batch_export_session.h"
#include "export/session/export_session.h"
#include "library/audio_track.h"

#include <QStringList>

namespace tampod::test {

// A player whose every value is a field; calls are recorded as texts ("seek 3.0"). Change a
// field, then call notify() or notifyPlayback() as the real model would signal.
class FakeMainWindowModel : public MainWindowModel {
public:
    bool playable = false, playing = false, repeating = false;
    double positionValue = 0, progressValue = 0, volumeValue = 0.7, start = 0, end = 0;
    QList<double> levelValues{0, 0};
    QString time = QStringLiteral("00:00:00");
    std::optional<double> duration;
    bool exportReady = false, exportHighlighted = false;
    QString exportHelp = QStringLiteral("Choose a ready audio file to export");
    std::optional<Span> loop;
    double zoom = 0;
    bool empty = true, recovery = false;
    int pending = 0;
    QStringList calls;

    void notify() { Q_EMIT changed(); }
    void notifyPlayback() { Q_EMIT positionOrLevelsChanged(); }

    bool canPlaySelection() const override { return playable; }
    bool isPlaying() const override { return playing; }
    bool isRepeating() const override { return repeating; }
    double position() const override { return positionValue; }
    double progress() const override { return progressValue; }
    double volume() const override { return volumeValue; }
    QList<double> levels() const override { return levelValues; }
    QString timeText() const override { return time; }
    double sectionStart() const override { return start; }
    double playbackEnd() const override { return end; }
    std::optional<double> selectedDuration() const override { return duration; }
    bool hasPrimaryExportTrack() const override { return exportReady; }
    QString primaryExportHelp() const override { return exportHelp; }
    bool primaryExportIsHighlighted() const override { return exportHighlighted; }
    // A session on a stand-in track that nothing plays or writes.
    std::unique_ptr<ExportSession> openPrimaryExportSession() override
    {
        record(QStringLiteral("openPrimaryExportSession"));
        AudioTrack track;
        track.id = QUuid::createUuid();
        track._url = TrackedFileURL(QUrl::fromLocalFile(QStringLiteral("/music/take.wav")));
        return std::make_unique<ExportSession>(track, ExportDefaults(), nullptr, nullptr, nullptr, nullptr, nullptr, ExportSession::Warn());
    }
    // A batch of that stand-in track, without panels.
    std::unique_ptr<BatchExportSession> libraryExportSession() override
    {
        record(QStringLiteral("libraryExportSession"));
        AudioTrack track;
        track.id = QUuid::createUuid();
        track._url = TrackedFileURL(QUrl::fromLocalFile(QStringLiteral("/music/take.wav")));
        return std::make_unique<BatchExportSession>(QList<AudioTrack>{track}, ExportDefaults(), nullptr, nullptr);
    }
    void play() override { record(QStringLiteral("play")); }
    void pause() override { record(QStringLiteral("pause")); }
    void seek(double seconds) override { record(QStringLiteral("seek"), seconds); }
    void toggleRepeat() override { record(QStringLiteral("toggleRepeat")); }
    void setVolume(double value) override { record(QStringLiteral("setVolume"), value); }

    std::optional<Span> loopSection() const override { return loop; }
    double zoomAmount() const override { return zoom; }
    void setZoomAmount(double amount, Span focus) override
    {
        record(QStringLiteral("setZoomAmount"), amount);
        calls.last() += QStringLiteral(" ") + NumberText::describeQ(focus.start) + QStringLiteral("…")
                        + NumberText::describeQ(focus.end);
    }
    void toggleSectionLoop() override { record(QStringLiteral("toggleSectionLoop")); }
    bool libraryIsEmpty() const override { return empty; }
    int pendingImports() const override { return pending; }
    void clearAll() override { record(QStringLiteral("clearAll")); }
    bool selectedTrackHasRecovery() const override { return recovery; }
    void importFiles(const QList<QUrl> &urls) override
    {
        record(QStringLiteral("importFiles"), double(urls.size()));
    }
    void removeSelected() override { record(QStringLiteral("removeSelected")); }
    void undoSectionRange() override { record(QStringLiteral("undo")); }
    void redoSectionRange() override { record(QStringLiteral("redo")); }

    QStringList takeCalls() { return std::exchange(calls, {}); }

private:
    void record(const QString &name, std::optional<double> value = std::nullopt)
    {
        calls.append(value ? name + QStringLiteral(" ") + NumberText::describeQ(*value) : name);
    }
};

} // namespace tampod::test
