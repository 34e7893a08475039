#pragma once

#include "concurrency/cancellation.h"

#include <QCoro/QCoroTask>
#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

namespace tampod::test {

// How long a wait for something the program will do may take before the test calls it a hang:
// far past what a loaded machine needs, and within the test's own limit.
inline constexpr std::chrono::seconds hangGuard{120};

// Runs the event loop until condition holds or the limit passes; returns whether it held. Waits
// for what the program does keep the default; a short limit is only for seeing that something
// does not happen.
bool pumpUntil(const std::function<bool()> &condition, std::chrono::milliseconds limit = hangGuard);

// Runs a main-thread coroutine to its end while pumping the event loop, and returns its
// value (rethrowing its error). Fails the test when it does not end within the limit.
template <typename T>
T runTask(QCoro::Task<T> task, std::chrono::milliseconds limit = hangGuard)
{
    bool done = false;
    std::exception_ptr error;
    std::optional<std::conditional_t<std::is_void_v<T>, int, T>> value;
    auto wrapper = [&]() -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>)
                co_await task;
            else
                value.emplace(co_await task);
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    };
    auto running = wrapper();
    if (!pumpUntil([&] { return done; }, limit))
        throw std::runtime_error("task did not finish in time");
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*value);
}

// A temporary folder removed with everything in it when the test ends.
class TempDir {
public:
    TempDir();
    ~TempDir();
    QString path() const { return dir_.path(); }
    QString file(const QString &name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
};

QByteArray readAll(const QString &path);
void writeFile(const QString &path, const QByteArray &bytes);

// A bad stretch of the disk under one file: while it lives, every read of the file at path
// that overlaps [from, to) fails with EIO, as an unreadable sector or a dropped share fails it.
class BadStretch {
public:
    BadStretch(const QString &path, qint64 from, qint64 to);
    ~BadStretch();
    BadStretch(const BadStretch &) = delete;
    BadStretch &operator=(const BadStretch &) = delete;
};

// The sources a user brings, each holding seconds of stereo noise at 44.1 kHz (noise, so the
// coded bytes spread evenly over the time), made by the ffmpeg command line in folder; their
// paths, by name: tone.mp3, tone.m4a, tone.flac, tone.ogg (Vorbis), tone.wav.
QStringList makeNoiseSources(const QString &folder, double seconds);

// A token cancelled already: for a CurrentCancellation::Scope or a service call.
inline CancellationToken cancelledToken()
{
    CancellationSource source;
    source.cancel();
    return source.token();
}

// What `of` makes of the E that a call throws; nullopt when it throws none.
template <typename E, typename Call, typename Of>
auto caught(Call &&call, Of &&of) -> std::optional<std::decay_t<decltype(of(std::declval<const E &>()))>>
{
    try {
        call();
    } catch (const E &error) {
        return of(error);
    }
    return std::nullopt;
}

} // namespace tampod::test
