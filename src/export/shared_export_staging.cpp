#include "export/shared_export_staging.h"

namespace tampod {

std::optional<QString> SharedExportStaging::prefixFor(const QString &folder, const Make &make)
{
    std::lock_guard lock(mutex_);
    if (closed_ || (directory_ && folder != folder_))
        return std::nullopt;
    if (!directory_) {
        directory_ = make();
        folder_ = folder;
    }
    return directory_->url.toLocalFile() + QLatin1Char('/') + QString::number(++exports_) + QLatin1Char('.');
}

void SharedExportStaging::close() noexcept
{
    std::lock_guard lock(mutex_);
    closed_ = true;
    if (directory_)
        directory_->remove();
    directory_.reset();
}

} // namespace tampod
