#include "library/rex_audio.h"

namespace tampod {

REXAudio::REXAudio(QUrl url, REXInfo info)
    : url_(std::move(url)), info_(info), folder_(WorkingCopyFolder::folderOf(url_.toLocalFile()))
{
}

} // namespace tampod
