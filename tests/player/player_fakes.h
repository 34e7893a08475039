#pragma once

// Stand-ins for the player's services. They run on the main thread: an engine call completes
// at the event loop's next turn, as an actor's would; an import waits until the test ends it.

#include "concurrency/async.h"
#include "concurrency/main_thread.h"
#include "core/error.h"
#include "export/session/file_panels.h"
#include "bpm/bpm_analyzing.h"
#include "import/audio_import_serving.h"
#include "playback/playback_serving.h"
#include "playback/section_preparing.h"
#include "sd2/sd2_recovery_service.h"

#include <QStringList>

#include <memory>
#include <set>
#include <vector>

inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace tampod::test {

template <typename Fn>
auto nextTurn(Fn fn) -> Async<std::invoke_result_t<Fn &>>
{
    auto state = std::make_shared<detail::AsyncState<std::invoke_result_t<Fn &>>>();
    postToMainThread([state, fn = std::move(fn)]() mutable { state->run(fn); });
    return Async<std::invoke_result_t<Fn &>>(state);
}

inline QString trackName(const AudioTrack &track)
{
    return track.projectedURL().fileName();
}

// An engine that logs each call ("load a.wav 0.7", "seek 2", …) and keeps the state a snapshot
// reports. A load of a file name in refused throws that name's error.
class FakeEngine final : public PlaybackServing {
public:
    QStringList log;
    std::optional<QUuid> loaded;
    double position = 0;
    bool playing = false;
    std::optional<bool> completion;
    std::map<QString, std::exception_ptr> refused;

    Async<void> load(AudioTrack t, double volume, bool repeating) override
    {
        return install(t, QStringLiteral("load %1 %2%3").arg(trackName(t)).arg(volume).arg(repeating ? " repeating" : ""));
    }
    Async<void> loadSection(AudioTrack t, std::shared_ptr<const PreparedSection>, double volume) override
    {
        return install(t, QStringLiteral("section %1 %2").arg(trackName(t)).arg(volume));
    }
    Async<void> play() override { return call("play", [this] { playing = true, completion.reset(); }); }
    Async<void> pause() override { return call("pause", [this] { playing = false; }); }
    Async<void> unload() override { return call("unload", [this] { loaded.reset(), playing = false; }); }
    Async<void> seek(double s) override { return call(QStringLiteral("seek %1").arg(s), [this, s] { position = s; }); }
    Async<void> setVolume(double v) override { return call(QStringLiteral("volume %1").arg(v), [] {}); }
    Async<void> setRepeat(bool r) override { return call(QStringLiteral("repeat %1").arg(r), [] {}); }
    Async<PlaybackSnapshot> snapshot() override
    {
        return nextTurn([this] { return PlaybackSnapshot{loaded, position, playing, completion, {0.5, 0.25}}; });
    }

private:
    template <typename Fn>
    Async<void> call(const QString &entry, Fn effect)
    {
        return nextTurn([this, entry, effect] { log.append(entry), effect(); });
    }
    Async<void> install(const AudioTrack &t, const QString &entry)
    {
        return call(entry, [this, t] {
            if (const auto found = refused.find(trackName(t)); found != refused.end())
                std::rethrow_exception(found->second);
            loaded = t.id, position = 0, playing = false, completion.reset();
        });
    }
};

// Panels that log each question (title, message, prompt) and answer with what the test set
// at the time, at the event loop's next turn, as a panel shown with open() would.
class FakeFilePanels final : public FilePanels {
public:
    QList<QUrl> opened;
    std::optional<QUrl> restored;
    std::vector<QStringList> asked;
    std::optional<OpenPanelOptions> lastOpen;
    QList<QList<QUrl>> shown;

    void open(const OpenPanelOptions &options, Chosen completion) override
    {
        asked.push_back({options.text.title});
        lastOpen = options;
        answer(std::move(completion), opened);
    }
    void save(const SavePanelOptions &options, Chosen completion) override
    {
        asked.push_back({options.text.title});
        answer(std::move(completion), {});
    }
    void chooseFolder(const OpenPanelOptions &options, Chosen completion) override
    {
        asked.push_back({options.text.title});
        answer(std::move(completion), {});
    }
    void restore(const FilePanelText &text, Chosen completion) override
    {
        asked.push_back({text.title, text.message, text.prompt});
        answer(std::move(completion), restored ? QList<QUrl>{*restored} : QList<QUrl>());
    }
    void showItems(const QList<QUrl> &urls) override { shown.append(urls); }
    void openFolder(const QUrl &) override {}

private:
    static void answer(Chosen completion, QList<QUrl> urls)
    {
        postToMainThread([completion = std::move(completion), urls = std::move(urls)] { completion(urls); });
    }
};

// An importer whose every load waits until the test ends it.
class FakeImporter final : public AudioImportServing {
public:
    struct Call {
        QList<QUrl> urls;
        QSet<QUrl> excluding;
        CancellationToken token;
        std::shared_ptr<detail::AsyncState<AudioImportResult>> state;
    };
    std::vector<Call> calls;

    Async<AudioImportResult> load(QList<QUrl> urls, QSet<QUrl> excluding, CancellationToken token) override
    {
        calls.push_back({urls, excluding, token, std::make_shared<detail::AsyncState<AudioImportResult>>()});
        return Async<AudioImportResult>(calls.back().state);
    }
    // With a result, or with an error when there is none.
    void end(size_t index, const std::optional<AudioImportResult> &result)
    {
        auto deliver = [&] { return result ? *result : throw Error(QStringLiteral("test"), 1, QStringLiteral("broken")); };
        calls.at(index).state->run(deliver);
    }
    // Lets every waiting load end, so that no suspended frame outlives the test.
    void endAll()
    {
        for (size_t i = 0; i < calls.size(); ++i)
            if (!calls[i].state->done)
                end(i, AudioImportResult{});
    }
};

// A service whose every call waits until the test ends it, with a value or an error.
template <typename T>
class LatchedCalls {
public:
    struct Call {
        AudioTrack track;
        std::shared_ptr<detail::AsyncState<T>> state;
    };
    std::vector<Call> calls;

    Async<T> start(AudioTrack track)
    {
        calls.push_back({std::move(track), std::make_shared<detail::AsyncState<T>>()});
        return Async<T>(calls.back().state);
    }
    void end(size_t index, T value)
    {
        auto deliver = [&] { return value; };
        calls.at(index).state->run(deliver);
    }
    void fail(size_t index, std::exception_ptr error)
    {
        auto deliver = [&]() -> T { std::rethrow_exception(error); };
        calls.at(index).state->run(deliver);
    }
    // Lets every waiting call end, so that no suspended frame outlives the test.
    void endAll(T value)
    {
        for (size_t i = 0; i < calls.size(); ++i)
            if (!calls[i].state->done)
                end(i, value);
    }
};

class LatchedAnalyzer final : public BPMAnalyzing, public LatchedCalls<double> {
public:
    std::vector<Progress> progress; // each call's report, by call
    Async<double> detect(AudioTrack track, Progress report, CancellationToken) override
    {
        progress.push_back(std::move(report));
        return start(std::move(track));
    }
};

class LatchedRecovery final : public SD2RecoveryServing, public LatchedCalls<SD2RecoveredCopyPointer> {
public:
    std::vector<int> rates;
    Async<SD2RecoveredCopyPointer> recover(AudioTrack track, int rate, SD2RecoveryProgress, CancellationToken) override
    {
        rates.push_back(rate);
        return start(std::move(track));
    }
};

// A section of a track at 1,000 frames a second, ready at the next turn, playing the track's file.
class FakeSections final : public SectionPreparing {
public:
    Async<std::shared_ptr<const PreparedSection>> prepare(AudioTrack track, SectionRange range, Progress,
                                                          CancellationToken) override
    {
        return nextTurn([=] {
            const auto total = std::llround(track.duration * 1000);
            return std::make_shared<const PreparedSection>(track, track.url(), std::llround(range.start * total),
                                                           std::llround(range.end * total), total, 1000.0,
                                                           std::nullopt);
        });
    }
};

} // namespace tampod::test
