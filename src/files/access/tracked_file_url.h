#pragma once

#include "files/access/source_file_access.h"

#include <QUrl>

#include <memory>

namespace tampod {

// A library record's source location: the URL as loaded, and the shared access object that
// answers where that file is now.
class TrackedFileURL {
public:
    TrackedFileURL() : TrackedFileURL(QUrl()) {}
    explicit TrackedFileURL(const QUrl &url) : projectedValue_(url), source_(SourceFileAccess::make(url)) {}
    TrackedFileURL(QUrl projectedValue, std::shared_ptr<SourceFileAccess> source)
        : projectedValue_(std::move(projectedValue)), source_(std::move(source))
    {
    }

    // The URL exactly as it was loaded.
    const QUrl &projectedValue() const { return projectedValue_; }
    // The confirmed current location, or the placeholder.
    QUrl wrappedValue() const { return source_->url(); }
    const std::shared_ptr<SourceFileAccess> &source() const { return source_; }

private:
    QUrl projectedValue_;
    std::shared_ptr<SourceFileAccess> source_; // never null
};

} // namespace tampod
