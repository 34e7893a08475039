#include "library/sd2_identification.h"

#include "core/native_path.h"

#include <QRegularExpression>

namespace tampod::SD2Identification {

namespace {

QString fileName(const QUrl &url)
{
    return url.fileName(QUrl::FullyDecoded);
}

// The text after the last dot of a name; a leading dot alone starts a hidden name, not an
// extension.
QString pathExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.mid(dot + 1) : QString();
}

} // namespace

bool hasLegacyName(const QUrl &url)
{
    const QString name = fileName(url);
    const QString extension = pathExtension(name).toLower();
    if (extension == u"sd2" || extension == u"sd2f" || extension == u"l" || extension == u"r")
        return true;
    if (!extension.isEmpty())
        return false;
    return name.toLower().endsWith(u"sd2");
}

std::optional<ChannelName> channelName(const QUrl &url)
{
    // \z rather than $: a name ending in a line feed is not a channel file. One expression per
    // thread, since matching is reentrant but not thread-safe.
    static thread_local const QRegularExpression pattern(
        QStringLiteral("^(.+)\\.([LR])(-export(?:-[0-9]+)?)?\\z"),
        QRegularExpression::CaseInsensitiveOption);
    QString name = fileName(url);
    const QString extension = pathExtension(name).toLower();
    if (extension == u"sd2" || extension == u"sd2f")
        name.chop(extension.size() + 1);
    if (!pattern.isValid())
        return std::nullopt;
    // The expression takes only valid text: a name's bytes that are not UTF-8 are matched as
    // U+FFFD, one unit for one, and the parts are taken from the name itself.
    const auto match = pattern.match(displayedPath(name));
    if (!match.hasMatch())
        return std::nullopt;
    const auto part = [&](int n) { return name.mid(match.capturedStart(n), match.capturedLength(n)); };
    QString stem = part(1);
    if (match.hasCaptured(3))
        stem += part(3);
    return ChannelName{stem, part(2).toUpper()};
}

} // namespace tampod::SD2Identification
