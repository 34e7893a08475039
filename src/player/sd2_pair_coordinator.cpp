#include "player/sd2_pair_coordinator.h"

#include "concurrency/main_thread.h"
#include "concurrency/thread_role.h"
#include "core/error.h"
#include "files/journal/audio_export_error.h"
#include "sd2/sd2_recovery_service.h"

#include <QPointer>

#include <cerrno>
#include <cmath>

namespace tampod {

namespace {

// A coroutine of its own, so that the service lives in its frame until the join has ended.
QCoro::Task<AudioTrack> prepareWithService(SD2PairService::StoreProvider store, AudioTrack left, AudioTrack right,
                                           SD2PairProgress progress, CancellationToken token)
{
    SD2PairService service(std::move(store));
    // Awaited from a local: g++ 12 can release temporaries of a co_await operand twice.
    auto preparation = service.prepare(std::move(left), std::move(right), std::move(progress), std::move(token));
    co_return co_await preparation;
}

QString failureMessage(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const SystemError &platform) {
        // A full disk under the working copy is what the storage text tells the user to check;
        // the system's own sentence would only name the call that failed.
        if (platform.errnoValue() == ENOSPC || platform.errnoValue() == EDQUOT)
            return AudioExportError(AudioExportError::Case::storage).message();
        return platform.message();
    } catch (const Error &typed) {
        if (!typed.message().isEmpty())
            return typed.message();
    } catch (...) {
    }
    return QString::fromUtf8(SD2PairCoordinator::fallbackMessage);
}

} // namespace

SD2PairCoordinator::Preparation SD2PairCoordinator::servicePreparation(SD2PairService::StoreProvider store)
{
    return [store = std::move(store)](AudioTrack left, AudioTrack right, SD2PairProgress progress,
                                      CancellationToken token) {
        return prepareWithService(store, std::move(left), std::move(right), std::move(progress), std::move(token));
    };
}

SD2PairCoordinator::SD2PairCoordinator(Preparation preparation, QObject *parent)
    : QObject(parent), preparation_(std::move(preparation))
{
}

void SD2PairCoordinator::setMessage(const QString &message)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (message_ == message)
        return;
    message_ = message;
    Q_EMIT messageChanged();
}

void SD2PairCoordinator::prepare(const AudioTrack &left, const AudioTrack &right,
                                 std::function<void(const AudioTrack &)> completed)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    cancel();
    setIsPreparing(true);
    setMessage(QString());
    setProgress(0);

    QPointer<SD2PairCoordinator> self(this);
    // Queued behind the runs before, even cancelled ones: two preparations never run at once.
    preparations_.enqueue([self, left, right, completed = std::move(completed),
                           preparation = preparation_](SerialJobQueue::Job job) -> QCoro::Task<> {
        co_await NextMainThreadTurn{};
        if (!job.isCurrent())
            co_return;
        auto progress = mainThreadProgress(self, [self, job](double fraction) {
            if (job.isCurrent())
                self->setProgress(fraction);
        });
        AudioTrack pair;
        std::exception_ptr error;
        try {
            auto running = preparation(left, right, std::move(progress), job.token());
            pair = co_await std::move(running);
        } catch (...) {
            error = std::current_exception();
        }
        if (!self || !job.isCurrent())
            co_return; // superseded: the pair and its copy go with this frame
        if (error) {
            self->setMessage(failureMessage(error));
        } else {
            completed(pair);
            if (!self)
                co_return;
            self->setMessage(QString::fromUtf8(readyMessage));
            if (!job.isCurrent())
                co_return;
        }
        self->setIsPreparing(false);
    });
}

void SD2PairCoordinator::cancel()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    preparations_.cancelAllInOrder();
    setIsPreparing(false);
}

void SD2PairCoordinator::setIsPreparing(bool value)
{
    if (isPreparing_ == value)
        return;
    isPreparing_ = value;
    Q_EMIT isPreparingChanged();
}

void SD2PairCoordinator::setProgress(double value)
{
    if (!std::isfinite(value) || progress_ == value)
        return;
    progress_ = value;
    Q_EMIT progressChanged();
}

} // namespace tampod
