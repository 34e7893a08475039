#include "export/export_preferences.h"

#include "concurrency/thread_role.h"
#include "core/observable.h"

#include <QVariant>

#include <exception>

namespace tampod {

QString ExportPreferences::saveFailedTitle()
{
    return QStringLiteral("Settings Not Saved");
}

QString ExportPreferences::saveFailedText()
{
    return QStringLiteral("Settings couldn’t be saved. Check that your settings folder can be written, then try "
                          "again.");
}

ExportPreferences::ExportPreferences(QSettings &storage, QObject *parent) : QObject(parent), storage_(storage)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const QVariant stored = storage_.value(QLatin1String(storageKey));
    if (!stored.isValid())
        return;
    try {
        defaults_ = ExportDefaults::decode(stored.toByteArray());
    } catch (const std::exception &) {
        // Whatever is stored there, the built-in default is used until the next save.
    }
}

const ExportDefaults &ExportPreferences::defaults() const
{
    TAMPOD_ASSERT_MAIN_THREAD();
    return defaults_;
}

void ExportPreferences::setDefaults(const ExportDefaults &record)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    setObservable(this, defaults_, record, &ExportPreferences::defaultsChanged);
}

bool ExportPreferences::save(const ExportDefaults &record)
{
    setDefaults(record);
    return persist();
}

bool ExportPreferences::rememberLevel(std::int64_t value, std::int64_t VinylOptions::*level)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (value < 0 || value > 100 || defaults_.vinyl.*level == value)
        return true;
    ExportDefaults record = defaults_;
    record.vinyl.*level = value;
    setDefaults(record);
    return persist();
}

bool ExportPreferences::persist()
{
    QByteArray data;
    try {
        data = defaults_.encode();
    } catch (const std::exception &) {
        return false;
    }
    // Once one write has failed, a QSettings object reports that error for good, so every save
    // checks a fresh object on the same file. They share Qt's cache of the file, so storage_
    // reads the new value too.
    QSettings writer(storage_.fileName(), storage_.format());
    writer.setValue(QLatin1String(storageKey), data);
    writer.sync();
    return writer.status() == QSettings::NoError;
}

} // namespace tampod
