#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace tampod::SourceBookmark {

// A read-only bookmark of a file: its path and identity as compact JSON. nullopt when the
// URL is not a file URL or the file has no identity.
std::optional<QByteArray> create(const QUrl &url);

struct Resolved {
    QUrl url;
    bool stale = false; // the file was found at another path than the one recorded
};

// The file the bookmark names: at its recorded path when that still holds the same file,
// otherwise at likelyPath when that holds it (where the caller already saw the file), otherwise
// the entry of the recorded folder with that identity. nullopt when none does, or when the
// bytes are not a bookmark.
std::optional<Resolved> resolve(const QByteArray &bookmark, const std::optional<QString> &likelyPath = std::nullopt);

// Whether the bookmarked file is gone for good: resolve() finds it nowhere while its recorded
// folder is there on the file's own volume. A disk out of reach is not gone.
bool isGone(const QByteArray &bookmark);

} // namespace tampod::SourceBookmark
