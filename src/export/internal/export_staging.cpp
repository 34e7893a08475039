#include "export/internal/export_staging.h"

#include "core/error.h"
#include "core/file_handle.h"
#include "files/journal/audio_export_error.h"
#include "files/journal/split_export_file_safety.h"
#include "platform/audio_file_error.h"

namespace tampod {

ExportStaging::ExportStaging(const StoreProvider &store, const QUrl &destination, bool insideStaging,
                             SharedExportStaging *shared)
{
    if (insideStaging) {
        prefix_ = destination.toLocalFile() + QLatin1Char('.');
        return;
    }
    try {
        if (shared) {
            const QString path = destination.toLocalFile();
            const auto prefix = shared->prefixFor(path.left(path.lastIndexOf(QLatin1Char('/'))),
                                                  [&] { return store().makeExportDirectory(destination); });
            if (prefix) {
                prefix_ = *prefix;
                return;
            }
        }
        directory_ = store().makeExportDirectory(destination);
    } catch (...) {
        // The store's own reason is not shown: what the user can act on is space and access.
        throw AudioExportError(AudioExportError::Case::storage);
    }
}

ExportStaging::~ExportStaging()
{
    if (kept_)
        return;
    if (prefix_.isEmpty()) {
        directory_.remove();
        return;
    }
    // Only what this export named in the private folder; the folder's owner removes the rest.
    for (const QString &file : std::as_const(made_))
        removeFile(file);
}

QString ExportStaging::path(const QString &name) const
{
    if (prefix_.isEmpty())
        return directory_.url.toLocalFile() + QLatin1Char('/') + name;
    made_ << prefix_ + name;
    return made_.last();
}

void ExportPublication::publish(const QString &staged, const QUrl &destination)
{
    try {
        // The audio first: the PCM and AAC writers leave it in the page cache, and a crash just
        // after the rename must not leave the new name on a file whose data never arrived.
        FileHandle::openForReading(staged).sync();
        // One file needs only its new name on disk: a crash that also keeps its staged name
        // leaves a second link in a staging folder, which the launch cleanup removes.
        SplitExportFileSafety::publish(QUrl::fromLocalFile(staged), destination, false);
    } catch (const AudioExportError &) {
        throw;
    } catch (const Cancelled &) {
        throw;
    } catch (...) {
        throw AudioExportError(AudioExportError::Case::storage);
    }
}

void ExportFailure::step(const QString &name, const std::function<void()> &work)
{
    try {
        work();
    } catch (const AudioFileError &error) {
        throw AudioExportError::native(name, error.code());
    } catch (const SystemError &error) {
        throw AudioExportError::storage(error.errnoValue());
    }
}

} // namespace tampod
