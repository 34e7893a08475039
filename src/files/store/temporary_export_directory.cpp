#include "files/store/temporary_export_directory.h"

#include "core/file_system_call.h"
#include "files/internal/file_location.h"

#include <unistd.h>

namespace tampod {

void TemporaryExportDirectory::remove() const noexcept
{
    try {
        const QUrl ownerFile = QUrl::fromLocalFile(FileLocation::localPath(url) + QLatin1Char('/')
                                                   + QLatin1String(TemporaryAudioStore::stagingOwnerName));
        if (TemporaryAudioSafety::read<TemporaryAudioStore::Owner>(ownerFile) != owner)
            return;
        TemporaryAudioSafety::removeTree(url, identity);
        if (record) {
            const QByteArray path = FileLocation::nativePath(*record);
            FileSystemCall::attempt("unlink", [&] { return ::unlink(path.constData()); });
        }
    } catch (...) {
        // Whatever stays is still recorded and marked; the launch cleanup decides about it.
    }
}

} // namespace tampod
