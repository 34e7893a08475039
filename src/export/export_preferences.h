#pragma once

#include "export/export_defaults.h"
#include "export/vinyl_options.h"

#include <QObject>
#include <QSettings>
#include <QString>

#include <cstdint>

namespace tampod {

// The user's default export settings between launches, one entry in the settings store.
// Main thread only.
class ExportPreferences : public QObject {
    Q_OBJECT

public:
    static constexpr const char *storageKey = "exportDefaults.v1";
    // What the caller shows when a save returned false.
    static QString saveFailedTitle();
    static QString saveFailedText();

    // Reads the saved record; a missing or unreadable entry gives the built-in default (the
    // entry stays until the next save). Writes nothing. storage must outlive this object.
    explicit ExportPreferences(QSettings &storage, QObject *parent = nullptr);

    const ExportDefaults &defaults() const;
    // Notifies only a real change; does not write to storage.
    void setDefaults(const ExportDefaults &record);

    // Sets the record and writes it. Returns false when it did not reach storage; the record
    // stays in use for this session, and the caller must not show it as saved.
    [[nodiscard]] bool save(const ExportDefaults &record);
    // Stores one Vinyl level (&VinylOptions::amount or &VinylOptions::humAmount) into the saved
    // defaults at once. Values outside 0...100 and an unchanged level write nothing. Returns
    // false only when a write failed.
    [[nodiscard]] bool rememberLevel(std::int64_t value, std::int64_t VinylOptions::*level);

Q_SIGNALS:
    void defaultsChanged();

private:
    bool persist();

    QSettings &storage_;      // thread: main
    ExportDefaults defaults_; // thread: main
};

} // namespace tampod
