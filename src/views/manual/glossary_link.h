#pragma once

#include <QString>

#include <optional>

namespace tampod {

// The address of a term's glossary entry: tampod-help://glossary?term=<term, percent-encoded>.
QString glossaryLink(const QString &term);

// The term a glossary link names, or nothing when the text is not one of ours. Scheme and host
// are compared on the raw text, case and all: QUrl would lower-case them first.
std::optional<QString> glossaryTerm(const QString &link);

} // namespace tampod
