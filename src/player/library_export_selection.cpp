#include "player/library_export_selection.h"

#include "core/number_text.h"

namespace tampod {

QString LibraryExportSelection::summary() const
{
    const bool checked = usesChecks || tracks.isEmpty();
    return NumberText::wholeQ(tracks.size()) + (checked ? QStringLiteral(" checked") : QStringLiteral(" selected")) +
           QStringLiteral(" for export");
}

QString LibraryExportSelection::help() const
{
    if (tracks.isEmpty())
        return QStringLiteral("Check files, select multiple files, or select a linked pair to export");
    return QStringLiteral("Export the ") + (usesChecks ? QStringLiteral("checked") : QStringLiteral("selected")) +
           QStringLiteral(" whole recordings using shared export settings");
}

} // namespace tampod
