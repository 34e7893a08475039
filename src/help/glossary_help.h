#pragma once

#include <QList>
#include <QString>

namespace tampod::GlossaryHelp {

struct Entry {
    QString term;
    QString definition;
};

// The seventy entries, sorted by lower-case term compared by code unit (stable).
const QList<Entry> &entries();
// The intro sentence, then each term and its definition, separated by blank lines.
const QString &overview();
const QString &intro();

} // namespace tampod::GlossaryHelp
