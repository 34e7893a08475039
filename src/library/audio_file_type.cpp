#include "library/audio_file_type.h"

#include <QMimeDatabase>

#include <algorithm>

namespace tampod {

bool AudioFileType::conformsToAudio(const QString &extension)
{
    if (extension.isEmpty())
        return false;
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(QStringLiteral("x.") + extension, QMimeDatabase::MatchExtension);
    if (!type.isValid())
        return false;
    const auto audio = [](const QString &name) { return name.startsWith(QLatin1String("audio/")); };
    const QStringList ancestors = type.allAncestors();
    return audio(type.name()) || std::any_of(ancestors.cbegin(), ancestors.cend(), audio);
}

} // namespace tampod
