#include "player/section_loop_coordinator.h"

#include "playback/section_preparation_error.h"

#include "concurrency/main_thread.h"
#include "concurrency/thread_role.h"
#include "core/observable.h"
#include "files/access/missing_audio_source.h"

#include <QPointer>
#include <QUndoCommand>
#include <QUndoStack>

#include <atomic>

namespace tampod {

// One boundary change. The stack owns it and the coordinator owns the stack. Each step
// remembers the range it leaves, so stepping back again returns to exactly that range (the
// frame-exact one when its preparation had finished).
class LoopBoundaryChange final : public QUndoCommand {
public:
    LoopBoundaryChange(SectionLoopCoordinator *coordinator, SectionRange before, SectionRange after)
        : QUndoCommand(SectionLoopCoordinator::actionName), coordinator_(coordinator), before_(before),
          after_(after)
    {
    }

    void undo() override
    {
        after_ = coordinator_->range_.value_or(after_);
        coordinator_->restore(before_);
    }

    void redo() override
    {
        // push() runs this once; the change it records is already being prepared.
        if (!pushed_) {
            pushed_ = true;
            return;
        }
        before_ = coordinator_->range_.value_or(before_);
        coordinator_->restore(after_);
    }

private:
    SectionLoopCoordinator *const coordinator_;
    SectionRange before_;
    SectionRange after_;
    bool pushed_ = false;
};

SectionLoopCoordinator::SectionLoopCoordinator(std::shared_ptr<SectionPreparing> service, QObject *parent)
    : QObject(parent), service_(std::move(service)), history_(new QUndoStack(this))
{
    // The limit can only be set while the stack is empty.
    history_->setUndoLimit(historyLimit);
}

TaskHandle SectionLoopCoordinator::prepare(const AudioTrack &track, SectionRange range, bool recordingChange)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    // While undoing or redoing, the stack itself keeps the way back.
    if (recordingChange && !steppingHistory_ && range_ && *range_ != range)
        history_->push(new LoopBoundaryChange(this, *range_, range));
    cancelPreparation();
    updateHistoryAvailability();
    currentTrack_ = track;
    setRange(range);
    setIsPreparing(true);
    QPointer<SectionLoopCoordinator> self(this);
    // The cancelled preparation is not awaited: this one starts at once.
    const TaskHandle task = preparations_.enqueue(
        [self, service = service_, track, range](SerialJobQueue::Job job) -> QCoro::Task<> {
            // Reports arrive on the rendering thread and are posted here; only the current
            // preparation's are applied. Each post applies the newest value, so a post that
            // arrives after the result never takes the progress back.
            const auto latest = std::make_shared<std::atomic<double>>(-1.0);
            auto progress = [self, job, latest](double value) {
                latest->store(value);
                postToMainThread([self, job, latest] {
                    if (self && job.isCurrent())
                        self->setProgress(latest->load());
                });
            };
            std::shared_ptr<const PreparedSection> section;
            std::exception_ptr error;
            try {
                section = co_await service->prepare(track, range, progress, job.token());
            } catch (...) {
                error = std::current_exception();
            }
            // A superseded section is let go here; its folder goes with its last holder.
            if (!self || !job.isCurrent())
                co_return;
            if (latest->load() >= 0) // reports still on their way are applied before the result
                self->setProgress(latest->load());
            if (error || !section) {
                self->reset();
                self->failed(failureMessage(error));
                co_return;
            }
            self->setPrepared(section);
            self->setRange(section->range());
            self->setIsPreparing(false);
            job.finish();
            self->completed(section);
        });
    return task.isFinished() ? TaskHandle() : task;
}

void SectionLoopCoordinator::reset()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    cancelPreparation();
    currentTrack_.reset();
    // The stack may not delete the change it is running.
    if (steppingHistory_)
        clearAfterStep_ = true;
    else
        history_->clear();
    updateHistoryAvailability();
}

void SectionLoopCoordinator::undo()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    steppingHistory_ = true;
    history_->undo();
    steppingHistory_ = false;
    if (std::exchange(clearAfterStep_, false))
        history_->clear();
    updateHistoryAvailability();
}

void SectionLoopCoordinator::redo()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    steppingHistory_ = true;
    history_->redo();
    steppingHistory_ = false;
    if (std::exchange(clearAfterStep_, false))
        history_->clear();
    updateHistoryAvailability();
}

QString SectionLoopCoordinator::failureMessage(const std::exception_ptr &error)
{
    if (const auto text = MissingAudioSource::message(error))
        return *text;
    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const SectionPreparationError &e) {
            return e.message();
        } catch (...) {
        }
    }
    return QStringLiteral("The section could not be prepared. Check available disk space and source access, then "
                          "try again.");
}

void SectionLoopCoordinator::cancelPreparation()
{
    preparations_.cancelAll(); // reaches the rendering through the job's token
    setRange(std::nullopt);
    setPrepared(nullptr);
    setIsPreparing(false);
    setProgress(0);
}

void SectionLoopCoordinator::updateHistoryAvailability()
{
    setObservable(this, canUndo_, history_->canUndo(), &SectionLoopCoordinator::canUndoChanged);
    setObservable(this, canRedo_, history_->canRedo(), &SectionLoopCoordinator::canRedoChanged);
}

void SectionLoopCoordinator::restore(SectionRange range)
{
    if (!currentTrack_)
        return;
    const AudioTrack track = *currentTrack_; // prepare() replaces the stored record
    prepare(track, range, true);
}

void SectionLoopCoordinator::setRange(const std::optional<SectionRange> &range)
{
    setObservable(this, range_, range, &SectionLoopCoordinator::rangeChanged);
}

void SectionLoopCoordinator::setPrepared(std::shared_ptr<const PreparedSection> prepared)
{
    prepared_ = std::move(prepared);
    Q_EMIT preparedChanged();
}

void SectionLoopCoordinator::setIsPreparing(bool preparing)
{
    setObservable(this, isPreparing_, preparing, &SectionLoopCoordinator::isPreparingChanged);
}

void SectionLoopCoordinator::setProgress(double progress)
{
    setObservable(this, progress_, progress, &SectionLoopCoordinator::progressChanged);
}

} // namespace tampod
