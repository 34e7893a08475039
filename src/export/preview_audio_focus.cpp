#include "export/preview_audio_focus.h"

#include "concurrency/thread_role.h"

namespace tampod {

PreviewAudioFocus &PreviewAudioFocus::shared()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    static PreviewAudioFocus focus;
    return focus;
}

void PreviewAudioFocus::take(AudiblePreview *preview)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    current_ = preview;
}

void PreviewAudioFocus::release(const AudiblePreview *preview)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (!preview || current_.data() != preview)
        return;
    cleanup_ = preview->runningTask();
    current_.clear();
}

} // namespace tampod
