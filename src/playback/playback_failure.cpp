#include "playback/playback_failure.h"

namespace tampod {

PlaybackFailure::PlaybackFailure(Kind kind)
    : Error(QStringLiteral("tampod.playback"), static_cast<int>(kind), QString()), kind_(kind)
{
}

} // namespace tampod
