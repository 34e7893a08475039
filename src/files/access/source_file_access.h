#pragma once

#include "files/access/file_access_lease.h"
#include "files/access/source_file_identity.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <memory>
#include <mutex>
#include <optional>

namespace tampod {

// Where one library record's source file is now. It follows the file through a rename in its
// folder and refuses a different file that took its place: a file it cannot confirm is
// answered with a placeholder URL, which the source check reports as missing.
// Shared by every copy of the record; safe to use from any thread.
class SourceFileAccess {
    struct Private {};

public:
    static std::shared_ptr<SourceFileAccess> make(const QUrl &url);
    SourceFileAccess(Private, const QUrl &url);
    SourceFileAccess(const SourceFileAccess &) = delete;
    SourceFileAccess &operator=(const SourceFileAccess &) = delete;

    const QUrl &original() const { return original_; }
    const QUrl &unavailable() const { return unavailable_; } // "tampod-unavailable:<UUID>"
    const std::optional<SourceFileIdentity> &identity() const { return identity_; }

    // The confirmed current location of the original file, or unavailable(). May touch the
    // file system; never fails. The unchanged file costs a few system calls.
    QUrl url();

    // Accepts the user's choice of the same file at a new location. Throws
    // SourceAccessFailure::differentFile for another file and ::denied for an unreadable one;
    // the stored state is then unchanged.
    void restoreAccess(const QUrl &chosen);

    // The path-independent reference ("dev:ino") of the file at the URL's path; nullopt when
    // nothing is there.
    static std::optional<QString> reference(const QUrl &url);

    // Snapshots of the guarded state.
    std::optional<QByteArray> bookmark() const;
    QString authorizedPath() const;
    std::optional<QString> currentReference() const;
    std::shared_ptr<const FileAccessLease> lease() const;

private:
    bool matches(const QUrl &url, const std::optional<QString> &reference) const;

    struct State {
        std::optional<QByteArray> bookmark;
        QString authorizedPath;
        std::optional<QString> reference;
        std::shared_ptr<const FileAccessLease> lease;
    };

    const QUrl original_;
    const QUrl unavailable_;
    const std::optional<SourceFileIdentity> identity_;
    mutable std::mutex mutex_;
    State state_; // thread: any, under mutex_ (held for whole resolutions, file-system work included)
};

} // namespace tampod
