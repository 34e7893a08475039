#pragma once

#include "export/encoding_options.h"
#include "library/export_format.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace tampod {

// Which controls, rates and bit rates apply to each format. Pure functions.
namespace ExportOptionCatalog {

std::vector<SampleEncoding> sampleEncodings(ExportFormat format);
std::vector<BitRateMode> rateModes(ExportFormat format);
bool hasRateControl(ExportFormat format, const EncodingOptions &options);
// The label of a rate mode: its raw value, except M4A–AAC's one mode, saved as "Constant (CBR)",
// whose encoder keeps an average bit rate and which is labelled so.
QString rateModeTitle(ExportFormat format, BitRateMode mode);
bool usesBitDepth(ExportFormat format, const EncodingOptions &options);
// Hz.
std::vector<std::int64_t> sampleRates(ExportFormat format, const EncodingOptions &options);
// kbit/s.
std::vector<std::int64_t> bitRates(ExportFormat format, const EncodingOptions &options, std::int64_t sampleRate);
// The note shown under the format's options.
QString advancedNotes(ExportFormat format);

} // namespace ExportOptionCatalog

} // namespace tampod
