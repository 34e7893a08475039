#include "views/about/app_identity.h"

#include <QFile>

#ifndef TAMPOD_SHORT_VERSION
#define TAMPOD_SHORT_VERSION ""
#endif
#ifndef TAMPOD_BUILD_NUMBER
#define TAMPOD_BUILD_NUMBER ""
#endif

namespace tampod::AppIdentity {

namespace {

std::optional<QString> defined(const char *value)
{
    const QString text = QString::fromUtf8(value).trimmed();
    return text.isEmpty() ? std::nullopt : std::optional(text);
}

} // namespace

QImage bundledImage(const QString &resource)
{
    if (!QFile::exists(resource))
        return {};
    return QImage(resource);
}

const QImage &appIcon()
{
    static const QImage icon = bundledImage(QString::fromLatin1(appIconResource));
    return icon;
}

QString versionText(const std::optional<QString> &shortVersion, const std::optional<QString> &build)
{
    const QString unknown = QStringLiteral("—");
    return QStringLiteral("Version ") + shortVersion.value_or(unknown) + QStringLiteral(" (Build ")
        + build.value_or(unknown) + QStringLiteral(")");
}

QString version()
{
    return versionText(defined(TAMPOD_SHORT_VERSION), defined(TAMPOD_BUILD_NUMBER));
}

} // namespace tampod::AppIdentity
