#pragma once

#include <QString>

namespace tampod::TempoText {

// A tempo text without the NUL terminators and blanks (space, tab, CR, LF) that tag writers
// leave around it; anything inside is kept.
QString trimmed(const QString &text);

} // namespace tampod::TempoText
