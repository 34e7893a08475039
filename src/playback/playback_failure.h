#pragma once

#include "core/error.h"

namespace tampod {

// Why the engine could not prepare or start a file. It carries no user text: the model shows
// its own sentence for it.
class PlaybackFailure : public Error {
public:
    enum class Kind { cannotPrepare, cannotPlay };

    explicit PlaybackFailure(Kind kind);
    static PlaybackFailure cannotPrepare() { return PlaybackFailure(Kind::cannotPrepare); }
    static PlaybackFailure cannotPlay() { return PlaybackFailure(Kind::cannotPlay); }

    Kind kind() const noexcept { return kind_; }
    bool operator==(const PlaybackFailure &other) const noexcept { return kind_ == other.kind_; }

private:
    Kind kind_;
};

} // namespace tampod
