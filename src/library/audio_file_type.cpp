#include "library/audio_file_type.h"

#include <QMimeDatabase>

#include <algorithm>

namespace tampod {

const QSet<QString> &AudioFileType::extensions()
{
    static const QSet<QString> extensions{
        QStringLiteral("wav"), QStringLiteral("wave"), QStringLiteral("aif"), QStringLiteral("aiff"),
        QStringLiteral("aifc"), QStringLiteral("mp3"), QStringLiteral("m4a"), QStringLiteral("aac"),
        QStringLiteral("flac"), QStringLiteral("caf"), QStringLiteral("sd2"), QStringLiteral("au"),
        QStringLiteral("snd"), QStringLiteral("bwf"), QStringLiteral("ac3"), QStringLiteral("ape"),
        QStringLiteral("ogg"), QStringLiteral("wma"), QStringLiteral("rex"), QStringLiteral("rx2"),
        QStringLiteral("rcy")};
    return extensions;
}

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
