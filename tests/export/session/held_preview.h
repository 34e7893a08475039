#pragma once

// An audition of another sheet that holds the audible focus; its task winds down only when the
// test lets it go, as a real player's stop may take a while.
#include "concurrency/main_thread.h"
#include "export/preview_audio_focus.h"
#include "support/test_support.h"

#include <memory>

namespace tampod::test {

class HeldPreview final : public AudiblePreview {
public:
    HeldPreview()
    {
        task_ = TaskHandle::start([letGo = letGo_](CancellationToken) -> QCoro::Task<> {
            while (!*letGo)
                co_await sleepFor(std::chrono::milliseconds(5));
        });
        PreviewAudioFocus::shared().take(this);
    }
    // Its task is let go and run to its end, so no suspended frame outlives the test.
    ~HeldPreview() override
    {
        letGo();
        pumpUntil([this] { return task_.isFinished(); });
    }

    void stop(const QString &) override
    {
        ++stops;
        PreviewAudioFocus::shared().release(this);
    }
    TaskHandle runningTask() const override { return task_; }
    void letGo() { *letGo_ = true; }
    bool isWindingDown() const { return !task_.isFinished(); }

    int stops = 0;

private:
    std::shared_ptr<bool> letGo_ = std::make_shared<bool>(false);
    TaskHandle task_;
};

} // namespace tampod::test
