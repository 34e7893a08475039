#include "library/rex_audio.h"

namespace tampod {

REXAudio::REXAudio(QUrl url, REXInfo info, WorkingCopyFolder::Remover remover)
    : url_(std::move(url)), info_(info), folder_(WorkingCopyFolder::folderOf(url_.toLocalFile()), std::move(remover))
{
}

} // namespace tampod
