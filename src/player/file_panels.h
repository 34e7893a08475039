#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace tampod {

// The file panels the models ask for, installed by the application; tests give their own.
// Each call runs its panel modally and returns the user's choice, so a caller re-checks its
// own state afterwards: events ran meanwhile. thread: main only.
class FilePanels {
public:
    virtual ~FilePanels() = default;

    // Files and folders, several at once; none when cancelled.
    virtual QList<QUrl> open(const QString &title) = 0;
    // One existing file, for pointing the application at a source again; none when cancelled.
    virtual std::optional<QUrl> restore(const QString &title, const QString &message, const QString &prompt) = 0;
};

} // namespace tampod
