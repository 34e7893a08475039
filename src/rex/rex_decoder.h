#pragma once

#include "concurrency/async.h"
#include "concurrency/cancellation.h"
#include "concurrency/serial_executor.h"
#include "files/store/temporary_audio_store.h"
#include "library/rex_audio.h"

#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace tampod {

using REXAudioPointer = std::shared_ptr<const REXAudio>;

// Renders a REX, REX2 or RCY loop once, whole, at its own rate, channel count and original
// tempo, into a verified 32-bit float CAF listening copy ("REX-loop.caf") alone in a job folder
// of the temporary-audio store. The source is only read, and must not change while it is read
// and rendered. Failures are REXError, Cancelled, the store's SystemError, or the file's and
// the copy reader's own errors; no failure leaves a job folder behind.
// An actor: one loop at a time on its own worker, so the library is used by one job at a time.
class REXDecoder {
public:
    using StoreProvider = std::function<TemporaryAudioStore &()>;

    static constexpr qint64 maximumSourceBytes = 33'554'432; // 32 MiB
    static inline const QString copyName = QStringLiteral("REX-loop.caf");

    // The lower-case path extensions that mark a REX file: "rex", "rx2", "rcy".
    static const QSet<QString> &extensions();

    // libraryPath: the decoder library to load for each job (tests hand their own).
    explicit REXDecoder(QString libraryPath, StoreProvider store = &TemporaryAudioStore::shared);

    // The process-wide decoder over the bundled library, made on first use.
    static const std::shared_ptr<REXDecoder> &shared();

    const QString &libraryPath() const noexcept { return libraryPath_; }

    Async<REXAudioPointer> prepare(QUrl url, CancellationToken token);

private:
    REXAudioPointer prepareNow(const QUrl &url) const;

    const QString libraryPath_;
    const StoreProvider store_;
    SerialExecutor executor_; // last: its destructor finishes queued jobs before the rest goes
};

} // namespace tampod
