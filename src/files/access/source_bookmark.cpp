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
    StrictJson::Json record{{"identity", identity->toJson()}};
    StrictJson::putPath(record, "path", url.toLocalFile());
    return StrictJson::dump(record);
}

namespace {

struct Recorded {
    QString path;
    SourceFileIdentity identity;
};

std::optional<Recorded> read(const QByteArray &bookmark)
{
    Recorded recorded;
    try {
        const auto record = StrictJson::parse(bookmark);
        recorded.path = StrictJson::requirePath(record, "path");
        recorded.identity = SourceFileIdentity::fromJson(StrictJson::requireObject(record, "identity"));
    } catch (const JsonError &) {
        return std::nullopt;
    }
    if (!recorded.path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    return recorded;
}

} // namespace

std::optional<Resolved> resolve(const QByteArray &bookmark, const std::optional<QString> &likelyPath)
{
    const auto recorded = read(bookmark);
    if (!recorded)
        return std::nullopt;
    const QString &path = recorded->path;
    const SourceFileIdentity &identity = recorded->identity;
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

bool isGone(const QByteArray &bookmark)
{
    const auto recorded = read(bookmark);
    if (!recorded || resolve(bookmark))
        return false;
    const auto folder = SourceFileIdentity::ofPath(FileLocation::folderOf(recorded->path));
    return folder && folder->volume == recorded->identity.volume;
}

} // namespace tampod::SourceBookmark
