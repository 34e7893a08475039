#include "platform/internal/ffmpeg_owners.h"

#include <mutex>

namespace tampod::ffmpeg {

void silenceLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

} // namespace tampod::ffmpeg
