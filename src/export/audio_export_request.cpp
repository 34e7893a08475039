#include "export/audio_export_request.h"

#include "files/journal/audio_export_error.h"
#include "library/sd2_pair_audio.h"
#include "sd2/sd2_pair_model.h"

namespace tampod {

QStringList AudioExportRequest::issues() const
{
    QStringList issues = settings.validationIssues();
    if (loop)
        issues << loop->issues(track);
    if (track.pair) {
        if (const auto issue = SD2PairModel::issue(track.pair->left(), track.pair->right()))
            issues << *issue;
        if (settings.options().channels == ExportChannels::mono)
            issues << QStringLiteral("For an SD2 pair, choose Keep source layout or Stereo. Use the pair output "
                                     "choice for separate mono files.");
    } else if (pairOutput == SD2PairOutput::separateMono) {
        issues << QStringLiteral("Separate mono output requires an SD2 pair.");
    }
    return issues;
}

void AudioExportRequest::checkIssues() const
{
    const QStringList sentences = issues();
    if (!sentences.isEmpty())
        throw AudioExportError::invalidSettings(sentences.join(QLatin1Char('\n')));
}

QString AudioExportRequest::fileExtension() const
{
    return ExportFormats::fileExtension(settings.format);
}

} // namespace tampod
