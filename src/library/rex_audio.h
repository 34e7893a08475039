#pragma once

#include "library/rex_info.h"
#include "files/store/working_copy_folder.h"

#include <QUrl>

namespace tampod {

// The listening copy of one REX loop ("REX-loop.caf", alone in its job folder). Holders
// share it (std::shared_ptr<const REXAudio>); the job folder is removed when the last
// holder lets go.
class REXAudio {
public:
    // Takes over the folder that contains url.
    REXAudio(QUrl url, REXInfo info);
    REXAudio(const REXAudio &) = delete;
    REXAudio &operator=(const REXAudio &) = delete;

    const QUrl &url() const { return url_; }
    const REXInfo &info() const { return info_; }

private:
    const QUrl url_;
    const REXInfo info_;
    WorkingCopyFolder folder_;
};

} // namespace tampod
