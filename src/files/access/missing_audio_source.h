#pragma once

#include "core/error.h"

#include <QUrl>

#include <exception>
#include <optional>

namespace tampod {

// A source file that is no longer where it can be read; name is the caller's display name.
class MissingAudioSource : public Error {
public:
    explicit MissingAudioSource(QString name);

    const QString &name() const { return name_; }
    using Error::message;

    // The check before every use of a source file: returns when the file can be read, throws
    // MissingAudioSource (not a file URL, or nothing there), SourceAccessFailure::denied (no
    // permission) or SystemError for any other failure.
    static void check(const QUrl &url, const QString &name);

    // The user text of a MissingAudioSource or SourceAccessFailure; nullopt for other errors.
    static std::optional<QString> message(const std::exception_ptr &error);

private:
    QString name_;
};

} // namespace tampod
