#include "tags/tempo_write_error.h"

namespace tampod {

namespace {
QString textOf(TempoWriteError::Reason reason)
{
    switch (reason) {
    case TempoWriteError::Reason::tempoMetadata:
        return QStringLiteral("The BPM metadata could not be written and verified. No destination "
                              "file was created.");
    case TempoWriteError::Reason::tooLarge:
        return QStringLiteral("The output or its temporary uncompressed audio exceeds this "
                              "version\u2019s 4 GB limit. Choose fewer loop repetitions, a lower "
                              "sample rate or a lower bit depth where available.");
    }
    return {};
}
} // namespace

TempoWriteError::TempoWriteError(Reason reason)
    : Error(QStringLiteral("tampod.tempo-write"), static_cast<int>(reason), textOf(reason)),
      reason_(reason)
{
}

} // namespace tampod
