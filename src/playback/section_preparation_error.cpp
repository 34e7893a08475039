#include "playback/section_preparation_error.h"

namespace tampod {

namespace {

QString textOf(SectionPreparationError::Case kind)
{
    switch (kind) {
    case SectionPreparationError::Case::unsupported:
        return QStringLiteral("This file cannot be prepared for section looping. Whole-file playback is still "
                              "available.");
    case SectionPreparationError::Case::tooLarge:
        return QStringLiteral("This section exceeds the 4 GB working-copy limit. Select a shorter section.");
    case SectionPreparationError::Case::incomplete:
        return QStringLiteral("The section could not be read or verified completely. Reopen the source and try "
                              "again.");
    }
    return {};
}

} // namespace

SectionPreparationError::SectionPreparationError(Case kind)
    : Error(QStringLiteral("tampod.section-preparation"), int(kind), textOf(kind)), kind_(kind)
{
}

} // namespace tampod
