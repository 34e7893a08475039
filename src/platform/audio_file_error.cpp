#include "platform/audio_file_error.h"

namespace tampod {

namespace {
QString composeMessage(const QString &operation, const QString &detail)
{
    if (detail.isEmpty())
        return operation + QStringLiteral(" failed.");
    return operation + QStringLiteral(" failed: ") + detail;
}
} // namespace

AudioFileError::AudioFileError(Kind kind, int code, const QString &operation,
                               const QString &detail)
    : Error(QStringLiteral("tampod.audio"), code, composeMessage(operation, detail)), kind_(kind),
      operation_(operation)
{
}

} // namespace tampod
