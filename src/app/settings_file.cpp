#include "app/settings_file.h"

#include "core/file_handle.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QStandardPaths>

namespace tampod {

namespace {

// A status follows a link to what it names and opens nothing, so it cannot block. A path with
// no status yet is fine: the first save makes the file, or fails and says so.
bool isUsable(const QString &path)
{
    const auto status = statusOf(path, LinkPolicy::Follow);
    return !status || S_ISREG(status->st_mode);
}

bool readNothing(QIODevice &, QSettings::SettingsMap &)
{
    return true;
}

bool writeNothing(QIODevice &, const QSettings::SettingsMap &)
{
    return false;
}

QSettings::Format refusingFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("refused"), &readNothing, &writeNothing);
    return format;
}

} // namespace

QString SettingsFile::standardPath()
{
    // As QSettings names it: the organisation (else its domain, else a fixed stand-in), then
    // the application's name.
    QString organisation = QCoreApplication::organizationName();
    if (organisation.isEmpty())
        organisation = QCoreApplication::organizationDomain();
    if (organisation.isEmpty())
        organisation = QStringLiteral("Unknown Organization");
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') +
           organisation + QLatin1Char('/') + QCoreApplication::applicationName() + QStringLiteral(".conf");
}

SettingsFile::SettingsFile(const QString &path)
{
    if (isUsable(path)) {
        settings_ = std::make_unique<QSettings>(path, QSettings::NativeFormat);
        return;
    }
    qWarning("The settings at %s are not a regular file; starting from the defaults.", qPrintable(path));
    empty_.emplace();
    settings_ = std::make_unique<QSettings>(empty_->filePath(QStringLiteral("refused.conf")), refusingFormat());
}

} // namespace tampod
