#include "files/store/working_copy_folder.h"

#include <QUrl>

namespace tampod {

WorkingCopyFolder::WorkingCopyFolder(QString folder) : folder_(std::move(folder))
{
    if (folder_.isEmpty())
        return;
    try {
        identity_ = TemporaryAudioSafety::directoryIdentity(QUrl::fromLocalFile(folder_));
    } catch (const std::exception &) {
        // Not a folder of ours that can be removed safely: it is left alone.
    }
}

WorkingCopyFolder::~WorkingCopyFolder()
{
    if (!identity_)
        return;
    try {
        TemporaryAudioSafety::removeTree(QUrl::fromLocalFile(folder_), *identity_);
    } catch (const std::exception &) {
    }
}

QString WorkingCopyFolder::folderOf(const QString &filePath)
{
    const qsizetype slash = filePath.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QString() : filePath.left(slash);
}

} // namespace tampod
