#include "player/player_model.h"

#include "concurrency/serial_executor.h"
#include "concurrency/thread_role.h"
#include "core/error.h"
#include "export/preview_audio_focus.h"
#include "files/access/file_access_lease.h"
#include "files/access/source_file_access.h"
#include "library/sd2_pair_audio.h"

#include <QPointer>

namespace tampod {

namespace {

const QString restoreTitle = QStringLiteral("Restore File Access");
const QString restorePrompt = QStringLiteral("Restore Access");
const QString notRestoredTitle = QStringLiteral("File access was not restored");

QString restoreMessage(const AudioTrack &track)
{
    return QStringLiteral("Select the original file loaded as ") + track.displayName() +
           QStringLiteral(". Its name or folder may have changed. Copies and replacements will not be substituted.");
}

// The identity check touches the file system and waits for the source's lock: it runs on an
// executor of its own, one per restore, never on the main thread.
class SourceAccessRestorer {
public:
    Async<void> restoreAccess(std::shared_ptr<SourceFileAccess> source, QUrl chosen)
    {
        return executor_.submit([source = std::move(source), chosen = std::move(chosen)] {
            source->restoreAccess(chosen);
        });
    }

private:
    SerialExecutor executor_{QStringLiteral("SourceAccessRestorer")}; // last
};

} // namespace

void PlayerModel::restoreSelectedFileAccess()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const AudioTrack *found = currentTrack();
    // A pair plays its joined working copy; its channel files are not reloaded from here.
    if (!found || found->pair)
        return;
    const AudioTrack track = *found;
    pause();
    if (AudiblePreview *preview = PreviewAudioFocus::shared().current())
        preview->stop(QString());
    if (!filePanels)
        return;
    QPointer<PlayerModel> self(this);
    const FilePanelText text{restoreTitle, restorePrompt, restoreMessage(track)};
    TaskHandle::start([self, track, text, panels = filePanels](CancellationToken) -> QCoro::Task<> {
        const QList<QUrl> urls = co_await awaitCallback<QList<QUrl>>(
            [&](auto deliver) { panels->restore(text, [deliver](const QList<QUrl> &chosen) { deliver(chosen); }); });
        // The panel stayed open while events ran: the model may be gone by now.
        if (!self || urls.isEmpty())
            co_return;
        const QUrl chosen = urls.first();
        const auto lease = std::make_shared<const FileAccessLease>(chosen);
        std::exception_ptr error;
        {
            SourceAccessRestorer restorer;
            try {
                co_await restorer.restoreAccess(track._url.source(), chosen);
            } catch (...) {
                error = std::current_exception();
            }
        }
        if (!self)
            co_return;
        if (error) {
            self->warn(notRestoredTitle, errorText(error), {});
            co_return;
        }
        // Not before the pause queued above has reached the engine.
        const TaskHandle commands = self->queuedCommandsFinished();
        co_await commands.finished();
        if (!self || self->selectedID_ != track.id)
            co_return;
        self->reloadSelection();
        if (const AudioTrack *current = self->currentTrack())
            self->waveforms_->prepare(*current);
    });
}

} // namespace tampod
