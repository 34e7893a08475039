#include "files/access/source_file_access.h"

#include "core/file_handle.h"
#include "files/internal/file_location.h"
#include "files/access/source_bookmark.h"
#include "files/access/source_access_failure.h"

#include <QUuid>

namespace tampod {

namespace {

QUrl placeholder()
{
    return QUrl(QStringLiteral("tampod-unavailable:") +
                QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
}

} // namespace

std::shared_ptr<SourceFileAccess> SourceFileAccess::make(const QUrl &url)
{
    return std::make_shared<SourceFileAccess>(Private{}, url);
}

SourceFileAccess::SourceFileAccess(Private, const QUrl &url)
    : original_(url), unavailable_(placeholder()), identity_(SourceFileIdentity::of(url))
{
    state_.bookmark = SourceBookmark::create(url);
    state_.authorizedPath = url.isLocalFile() ? url.toLocalFile() : url.path();
    state_.reference = reference(url);
}

std::optional<QString> SourceFileAccess::reference(const QUrl &url)
{
    if (!url.isLocalFile())
        return std::nullopt;
    return FileLocation::reference(url.toLocalFile());
}

bool SourceFileAccess::matches(const QUrl &url, const std::optional<QString> &storedReference) const
{
    if (identity_) {
        const auto current = SourceFileIdentity::of(url);
        return current && *current == *identity_;
    }
    if (storedReference) {
        const auto current = reference(url);
        return current && *current == *storedReference;
    }
    return false;
}

QUrl SourceFileAccess::url()
{
    std::lock_guard lock(mutex_);
    State &s = state_;
    if (!identity_ && !s.reference)
        return original_;

    std::optional<QUrl> referenced;
    if (s.reference) {
        if (const auto path = FileLocation::resolve(*s.reference, s.authorizedPath))
            referenced = QUrl::fromLocalFile(*path);
    }

    // The common case: the same file, still readable where it was confirmed.
    if (referenced && referenced->toLocalFile() == s.authorizedPath && matches(*referenced, s.reference) &&
        isReadable(s.authorizedPath))
        return *referenced;

    if (s.bookmark) {
        // The reference already found the file after a rename: spare the second folder scan.
        const auto likely = referenced ? std::optional<QString>(referenced->toLocalFile()) : std::nullopt;
        if (const auto resolved = SourceBookmark::resolve(*s.bookmark, likely)) {
            auto lease = std::make_shared<const FileAccessLease>(resolved->url);
            const QString path = resolved->url.toLocalFile();
            if (matches(resolved->url, s.reference) && isReadable(path)) {
                s.lease = std::move(lease);
                s.authorizedPath = path;
                s.reference = reference(resolved->url);
                if (resolved->stale) {
                    if (auto fresh = SourceBookmark::create(resolved->url))
                        s.bookmark = std::move(fresh);
                }
                return resolved->url;
            }
        }
    }

    if (identity_) {
        const QUrl known = QUrl::fromLocalFile(s.authorizedPath);
        if (SourceFileIdentity::ofPath(s.authorizedPath) == *identity_) {
            if (isReadable(s.authorizedPath)) {
                s.reference = reference(known);
                if (auto fresh = SourceBookmark::create(known))
                    s.bookmark = std::move(fresh);
            }
            // Unreadable but confirmed: the next check reports denied access, not a missing file.
            return known;
        }
    }

    if (referenced && matches(*referenced, s.reference))
        return *referenced;
    return unavailable_;
}

void SourceFileAccess::restoreAccess(const QUrl &chosen)
{
    auto lease = std::make_shared<const FileAccessLease>(chosen);
    std::lock_guard lock(mutex_);
    if (!matches(chosen, state_.reference))
        throw SourceAccessFailure::differentFile();
    const QString path = chosen.toLocalFile();
    if (!isReadable(path))
        throw SourceAccessFailure::denied();
    state_.bookmark = SourceBookmark::create(chosen);
    state_.authorizedPath = path;
    state_.reference = reference(chosen);
    state_.lease = std::move(lease);
}

std::optional<QByteArray> SourceFileAccess::bookmark() const
{
    std::lock_guard lock(mutex_);
    return state_.bookmark;
}

QString SourceFileAccess::authorizedPath() const
{
    std::lock_guard lock(mutex_);
    return state_.authorizedPath;
}

std::optional<QString> SourceFileAccess::currentReference() const
{
    std::lock_guard lock(mutex_);
    return state_.reference;
}

std::shared_ptr<const FileAccessLease> SourceFileAccess::lease() const
{
    std::lock_guard lock(mutex_);
    return state_.lease;
}

} // namespace tampod
