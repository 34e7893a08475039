#pragma once

#include "playback/section_preparing.h"

namespace tampod {

// Renders the chosen frames of a track, unchanged, into "section.caf" (32-bit float CAF at
// the source's rate and channel count) in a new job folder of the temporary-audio store,
// verifies it by reading it back, and hands it over as a PreparedSection that owns the folder.
// A range of the whole track writes nothing and plays the track's own file. Every failure,
// cancellation included, removes the job folder before the error leaves. Throws
// SectionPreparationError, the source check's errors (MissingAudioSource,
// SourceAccessFailure), the reader's, writer's and store's errors unchanged, or Cancelled.
class SectionAudioPreparer final : public SectionPreparing {
public:
    // The rendering runs detached at user-initiated priority.
    Async<std::shared_ptr<const PreparedSection>> prepare(AudioTrack track, SectionRange range, Progress progress,
                                                          CancellationToken token) override;

    // The same on the calling thread.
    static std::shared_ptr<const PreparedSection> render(const AudioTrack &track, SectionRange range,
                                                         const Progress &progress, const CancellationToken &token);

    static constexpr char fileName[] = "section.caf";
};

} // namespace tampod
