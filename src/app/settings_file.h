#pragma once

#include <QSettings>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace tampod {

// The application's settings store. Its file is read only when it is a regular file or not
// there yet: opening a FIFO or a device at that path would block start-up in open(), so
// anything else is refused before it is opened. Refused settings start from the defaults and
// refuse every save, so each save reports its failure as a read-only store would.
// thread: main only.
class SettingsFile {
public:
    // The per-user file QSettings uses for this application's organisation and name.
    static QString standardPath();

    explicit SettingsFile(const QString &path = standardPath());

    QSettings &settings() { return *settings_; }
    bool isRefused() const { return empty_.has_value(); }

private:
    std::optional<QTemporaryDir> empty_; // holds nothing; the refused store's file is never made
    std::unique_ptr<QSettings> settings_;
};

} // namespace tampod
