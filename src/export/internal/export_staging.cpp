#include "export/internal/export_staging.h"

#include "core/error.h"
#include "files/journal/audio_export_error.h"
#include "files/journal/split_export_file_safety.h"
#include "platform/audio_file_error.h"

namespace tampod {

ExportStaging::ExportStaging(const StoreProvider &store, const QUrl &destination)
{
    try {
        directory_ = store().makeExportDirectory(destination);
    } catch (...) {
        // The store's own reason is not shown: what the user can act on is space and access.
        throw AudioExportError(AudioExportError::Case::storage);
    }
}

ExportStaging::~ExportStaging()
{
    if (!kept_)
        directory_.remove();
}

QString ExportStaging::path(const QString &name) const
{
    return directory_.url.toLocalFile() + QLatin1Char('/') + name;
}

void ExportPublication::publish(const QString &staged, const QUrl &destination)
{
    try {
        SplitExportFileSafety::publish(QUrl::fromLocalFile(staged), destination);
    } catch (const AudioExportError &) {
        throw;
    } catch (const Cancelled &) {
        throw;
    } catch (...) {
        throw AudioExportError(AudioExportError::Case::storage);
    }
}

std::int32_t ExportFailure::status(const std::exception &error)
{
    if (const auto *audio = dynamic_cast<const AudioFileError *>(&error))
        return audio->code();
    if (const auto *system = dynamic_cast<const SystemError *>(&error))
        return system->errnoValue();
    return -1;
}

void ExportFailure::step(const QString &name, const std::function<void()> &work)
{
    try {
        work();
    } catch (const AudioFileError &error) {
        throw AudioExportError::native(name, error.code());
    } catch (const SystemError &) {
        throw AudioExportError(AudioExportError::Case::storage);
    }
}

} // namespace tampod
