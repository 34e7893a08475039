#include "library/bpm_value.h"

#include "core/number_text.h"
#include "tags/sd2_document_tempo.h"
#include "tags/tempo_model.h"

#include <cmath>

namespace tampod::BPMValue {

QString wholeText(double bpm)
{
    return TempoModel::wholeText(bpm);
}

QString exportSummary(std::optional<double> bpm, std::optional<ExportFormat> format)
{
    if (!bpm || !std::isfinite(*bpm) || *bpm <= 0)
        return QStringLiteral("BPM unknown \u2014 no tempo tag");
    const QString precise = NumberText::describeQ(*bpm);
    if (format != ExportFormat::sd2)
        return QStringLiteral("BPM ") + precise + QStringLiteral(" retained; standard whole-number tag ") +
               wholeText(*bpm);
    if (SD2DocumentTempo::fixedWord(*bpm))
        return QStringLiteral("BPM ") + precise +
               QStringLiteral(" retained in native SD2 tempo and precise tamPOD metadata");
    return QStringLiteral("BPM ") + precise +
           QStringLiteral(" retained in precise tamPOD metadata; outside native SD2 tempo range");
}

} // namespace tampod::BPMValue
