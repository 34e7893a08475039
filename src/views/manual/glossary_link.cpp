#include "views/manual/glossary_link.h"

#include <QUrl>
#include <QUrlQuery>

namespace tampod {

namespace {

const QString scheme = QStringLiteral("tampod-help");
const QString host = QStringLiteral("glossary");
const QString termKey = QStringLiteral("term");

} // namespace

QString glossaryLink(const QString &term)
{
    QUrl url;
    url.setScheme(scheme);
    url.setHost(host);
    QUrlQuery query;
    query.addQueryItem(termKey, term);
    url.setQuery(query);
    return url.toString(QUrl::FullyEncoded);
}

std::optional<QString> glossaryTerm(const QString &link)
{
    const QString prefix = scheme + QStringLiteral("://") + host;
    if (!link.startsWith(prefix, Qt::CaseSensitive))
        return std::nullopt;
    // The host ends where the authority does; "glossary.example" or a user part is another host.
    if (link.size() > prefix.size() && !QStringLiteral("/?#").contains(link.at(prefix.size())))
        return std::nullopt;
    const QUrl url(link, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    const QUrlQuery query(url);
    if (!query.hasQueryItem(termKey))
        return std::nullopt;
    const QString term = query.queryItemValue(termKey, QUrl::FullyDecoded);
    if (term.isEmpty())
        return std::nullopt;
    return term;
}

} // namespace tampod
