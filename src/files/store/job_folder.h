#pragma once

#include "files/store/temporary_audio_safety.h"

#include <QString>
#include <QUrl>

namespace tampod {

// A job folder of the temporary-audio store (TemporaryAudioStore::makeDirectory) that is removed with everything in it unless the
// working copy in it was accepted (keep(): from then on the copy's own folder owner removes it).
class JobFolder {
public:
    explicit JobFolder(QUrl url) : url_(std::move(url)), identity_(TemporaryAudioSafety::directoryIdentity(url_)) {}
    ~JobFolder()
    {
        if (kept_)
            return;
        try {
            TemporaryAudioSafety::removeTree(url_, identity_);
        } catch (const std::exception &) {
            // The next launch's cleanup removes what is left.
        }
    }
    JobFolder(const JobFolder &) = delete;
    JobFolder &operator=(const JobFolder &) = delete;

    const QUrl &url() const { return url_; }
    QString file(const QString &name) const { return url_.toLocalFile() + QLatin1Char('/') + name; }
    void keep() { kept_ = true; }

private:
    const QUrl url_;
    const TemporaryAudioSafety::Identity identity_;
    bool kept_ = false;
};

} // namespace tampod
