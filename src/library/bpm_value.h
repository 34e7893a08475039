#pragma once

#include "library/export_format.h"

#include <QString>

#include <optional>

// The tempo text rules of the library and the export sheet. Never depend on the process locale.
namespace tampod::BPMValue {

// The standard whole-number tempo text: x.5 goes down, anything above it goes up.
QString wholeText(double bpm);

// The one-line tempo summary of the export sheet for a tempo and the chosen format.
QString exportSummary(std::optional<double> bpm, std::optional<ExportFormat> format);

} // namespace tampod::BPMValue
