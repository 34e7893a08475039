#pragma once

// Stand-ins for the player's services. They run on the main thread: an engine call completes
// at the event loop's next turn, as an actor's would; an import waits until the test ends it.

#include "bpm/bpm_analyzing.h"
#include "concurrency/async.h"
#include "concurrency/main_thread.h"
#include "core/error.h"
#include "import/audio_import_serving.h"
#include "playback/playback_serving.h"

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

// An engine that logs each call ("load a.wav", "seek 2", …) and keeps the state a snapshot
// reports. Loads of a name in refused throw that name's error.
class FakeEngine final : public PlaybackServing {
public:
    QStringList log;
    std::optional<QUuid> loaded;
    double position = 0;
    bool playing = false;
    std::optional<bool> completion;
    std::map<QString, std::exception_ptr> refused;

    Async<void> load(AudioTrack track, double volume, bool repeating) override
    {
        return nextTurn([=, this] {
            note(QStringLiteral("load %1 %2%3").arg(trackName(track)).arg(volume).arg(repeating ? " repeating" : ""));
            if (const auto found = refused.find(trackName(track)); found != refused.end())
                std::rethrow_exception(found->second);
            install(track.id);
        });
    }
    Async<void> loadSection(AudioTrack track, std::shared_ptr<const PreparedSection>, double volume) override
    {
        return nextTurn([=, this] {
            note(QStringLiteral("section %1 %2").arg(trackName(track)).arg(volume));
            install(track.id);
        });
    }
    Async<void> play() override
    {
        return nextTurn([this] {
            note(QStringLiteral("play"));
            playing = true;
            completion.reset();
        });
    }
    Async<void> pause() override
    {
        return nextTurn([this] {
            note(QStringLiteral("pause"));
            playing = false;
        });
    }
    Async<void> unload() override
    {
        return nextTurn([this] {
            note(QStringLiteral("unload"));
            loaded.reset();
            playing = false;
        });
    }
    Async<void> seek(double seconds) override
    {
        return nextTurn([=, this] {
            note(QStringLiteral("seek %1").arg(seconds));
            position = seconds;
        });
    }
    Async<void> setVolume(double volume) override
    {
        return nextTurn([=, this] { note(QStringLiteral("volume %1").arg(volume)); });
    }
    Async<void> setRepeat(bool repeating) override
    {
        return nextTurn([=, this] { note(QStringLiteral("repeat %1").arg(repeating)); });
    }
    Async<PlaybackSnapshot> snapshot() override
    {
        return nextTurn([this] { return PlaybackSnapshot{loaded, position, playing, completion, {0.5, 0.25}}; });
    }

    // The loaded file plays to its end (or stops on a decoding error).
    void reachEnd(bool successfully)
    {
        playing = false;
        completion = successfully;
    }

private:
    void note(const QString &entry) { log.append(entry); }
    void install(const QUuid &id)
    {
        loaded = id;
        position = 0;
        playing = false;
        completion.reset();
    }
};

// An importer whose every load waits until the test ends it with a result (or an error).
class FakeImporter final : public AudioImportServing {
public:
    struct Call {
        QList<QUrl> urls;
        QSet<QUrl> excluding;
        CancellationToken token;
        std::shared_ptr<detail::AsyncState<AudioImportResult>> state;
        bool ended = false;
    };
    std::vector<Call> calls;

    Async<AudioImportResult> load(QList<QUrl> urls, QSet<QUrl> excluding, CancellationToken token) override
    {
        auto state = std::make_shared<detail::AsyncState<AudioImportResult>>();
        calls.push_back(Call{std::move(urls), std::move(excluding), std::move(token), state});
        return Async<AudioImportResult>(state);
    }
    void end(size_t index, AudioImportResult result)
    {
        Call &call = calls.at(index);
        call.ended = true;
        auto deliver = [&] { return result; };
        call.state->run(deliver);
    }
    void fail(size_t index)
    {
        calls.at(index).ended = true;
        auto fail = []() -> AudioImportResult { throw Error(QStringLiteral("test"), 1, QStringLiteral("broken")); };
        calls.at(index).state->run(fail);
    }
    // Lets every waiting job end, so that no suspended frame outlives the test.
    void endAll()
    {
        for (size_t i = 0; i < calls.size(); ++i)
            if (!calls[i].ended)
                end(i, {});
    }
};

// Never asked: the model's tests hand detection results straight to the queue's callbacks.
class IdleAnalysis final : public BPMAnalyzing {
public:
    Async<double> detect(AudioTrack, Progress, CancellationToken) override
    {
        return nextTurn([]() -> double { throw Cancelled(); });
    }
};

} // namespace tampod::test
