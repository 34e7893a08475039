#include "files/store/temporary_export_directory.h"

#include "files/internal/posix_support.h"

#include <unistd.h>

namespace tampod {

void TemporaryExportDirectory::remove() const noexcept
{
    try {
        const QUrl ownerFile = QUrl::fromLocalFile(PosixSupport::localPath(url) + QLatin1Char('/')
                                                   + QLatin1String(TemporaryAudioStore::stagingOwnerName));
        if (TemporaryAudioSafety::read<TemporaryAudioStore::Owner>(ownerFile) != owner)
            return;
        TemporaryAudioSafety::removeTree(url, identity);
        if (record)
            ::unlink(PosixSupport::nativePath(*record).constData());
    } catch (...) {
        // Whatever stays is still recorded and marked; the launch cleanup decides about it.
    }
}

} // namespace tampod
