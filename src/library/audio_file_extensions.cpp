#include "library/audio_file_extensions.h"

namespace tampod {

const QSet<QString> &audioFileExtensions()
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

} // namespace tampod
