#include "export/treatments/vinyl_resources.h"

#include <QDir>
#include <QFileInfo>

namespace tampod::VinylResources {

QString folder()
{
    // The link names this process's executable whether or not an application object exists.
    const QString executableFolder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    return QDir::cleanPath(executableFolder + QStringLiteral("/../share/tampod"));
}

QString path(const QString &name)
{
    return folder() + QLatin1Char('/') + name + QStringLiteral(".flac");
}

} // namespace tampod::VinylResources
