#include "files/access/source_access_failure.h"

namespace tampod {

namespace {

QString text(SourceAccessFailure::Kind kind)
{
    switch (kind) {
    case SourceAccessFailure::Kind::differentFile:
        return QStringLiteral("That is not the original loaded file. Select the same file at its new location. "
                              "A copy or replacement must be opened as a new library entry; your current audio "
                              "and settings are unchanged.");
    case SourceAccessFailure::Kind::denied:
        break;
    }
    return QStringLiteral("tamPOD cannot read the source. Choose Restore File Access\u2026 and select the original "
                          "file at its current location, then retry. For a batch, close the results, restore "
                          "access from the File menu, and start a new batch.");
}

} // namespace

SourceAccessFailure::SourceAccessFailure(Kind kind)
    : Error(QStringLiteral("tampod.source-access"), static_cast<int>(kind), text(kind)), kind_(kind)
{
}

} // namespace tampod
