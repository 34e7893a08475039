#pragma once

#include <QUrl>

namespace tampod {

// Holds access to one URL for as long as the lease lives. Linux needs no grant to read a
// file, so starting access records only whether it could be started (file URLs); the
// bookkeeping stays so that access is stopped only where it was started.
class FileAccessLease {
public:
    explicit FileAccessLease(QUrl url);
    ~FileAccessLease();
    FileAccessLease(const FileAccessLease &) = delete;
    FileAccessLease &operator=(const FileAccessLease &) = delete;

    const QUrl &url() const { return url_; }
    bool scoped() const { return scoped_; }

    // Accesses started and not yet stopped, in the whole process.
    static int activeCount();

private:
    const QUrl url_;
    const bool scoped_;
};

} // namespace tampod
