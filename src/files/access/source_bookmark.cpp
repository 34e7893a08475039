#include "files/access/source_bookmark.h"

#include "core/strict_json.h"
#include "files/internal/file_location.h"
#include "files/access/source_file_identity.h"

namespace tampod::SourceBookmark {

std::optional<QByteArray> create(const QUrl &url)
{
    const auto identity = SourceFileIdentity::of(url);
    if (!identity)
        return std::nullopt;
    const StrictJson::Json record{
        {"path", url.toLocalFile().toStdString()},
        {"identity", identity->toJson()},
    };
    return StrictJson::dump(record);
}

std::optional<Resolved> resolve(const QByteArray &bookmark, const std::optional<QString> &likelyPath)
{
    QString path;
    SourceFileIdentity identity;
    try {
        const auto record = StrictJson::parse(bookmark);
        path = StrictJson::requireString(record, "path");
        identity = SourceFileIdentity::fromJson(StrictJson::requireObject(record, "identity"));
    } catch (const JsonError &) {
        return std::nullopt;
    }
    if (path.isEmpty() || !path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    if (SourceFileIdentity::ofPath(path) == identity)
        return Resolved{QUrl::fromLocalFile(path), false};
    if (likelyPath && *likelyPath != path && SourceFileIdentity::ofPath(*likelyPath) == identity)
        return Resolved{QUrl::fromLocalFile(*likelyPath), true};
    const auto moved = FileLocation::findInFolder(FileLocation::folderOf(path), identity.inode,
                                                  [&](const QString &candidate) {
                                                      return SourceFileIdentity::ofPath(candidate) == identity;
                                                  });
    if (!moved)
        return std::nullopt;
    return Resolved{QUrl::fromLocalFile(*moved), true};
}

} // namespace tampod::SourceBookmark
