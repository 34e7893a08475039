#include "player/player_model.h"

#include "concurrency/main_thread.h"
#include "concurrency/thread_role.h"
#include "export/engine/audio_file_exporter.h"
#include "export/preview/export_preview_renderer.h"

#include <QPointer>

#include <coroutine>
#include <utility>

namespace tampod {

namespace {

// Opens once the command that holds its opener has ended, whether it ran or was dropped
// behind a failed one: the opener goes with the command's captures.
struct CommandGate {
    bool open = false;
    std::coroutine_handle<> waiter;
};

struct CommandGateOpener {
    std::shared_ptr<CommandGate> gate;
    ~CommandGateOpener()
    {
        gate->open = true;
        if (auto waiter = std::exchange(gate->waiter, {}))
            resumeOnMainThread(waiter);
    }
};

struct CommandGateAwaiter {
    std::shared_ptr<CommandGate> gate;
    bool await_ready() const noexcept { return gate->open; }
    void await_suspend(std::coroutine_handle<> handle) const { gate->waiter = handle; }
    void await_resume() const noexcept {}
};

// Pauses as pause() does, then waits until the engine has handled every command queued so far
// (a no-op command behind the pause, which also refreshes the position).
QCoro::Task<double> pauseAndWait(QPointer<PlayerModel> model)
{
    if (!model)
        co_return 0.0;
    model->pause();
    auto gate = std::make_shared<CommandGate>();
    {
        auto opener = std::make_shared<CommandGateOpener>(CommandGateOpener{gate});
        model->commands().enqueue(true, [opener](PlaybackServing &) -> QCoro::Task<> { co_return; });
    }
    co_await CommandGateAwaiter{gate};
    co_return model ? model->volume() : 0.0;
}

} // namespace

std::unique_ptr<ExportSession> PlayerModel::primaryExportSession(const ExportDefaults &defaults)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    pause();
    const auto track = primaryExportTrack();
    if (!track)
        return nullptr;
    const bool current = selectedID_ && *selectedID_ == track->id;
    std::shared_ptr<const PreparedSection> loop = current ? sectionLoop_->prepared() : nullptr;
    QPointer<PlayerModel> self(this);
    auto preview = new ExportPreviewCoordinator(std::make_shared<ExportPreviewRenderer>(),
                                                std::make_shared<ExportPreviewPlayer>());
    return std::make_unique<ExportSession>(
        *track, defaults, std::move(loop), std::make_shared<AudioFileExporter>(), preview,
        [self]() -> QCoro::Task<double> { return pauseAndWait(self); }, filePanels,
        [self](const QString &message) {
            if (self)
                self->warn(ExportSession::warningTitle, message, {});
        });
}

} // namespace tampod
