#pragma once

#include "export/export_defaults.h"
#include "views/kit/binding.h"

#include <functional>

namespace tampod {

// The one road from the export form's controls to a settings draft, whatever holds the draft
// (an export session, a batch, the settings window).
using ExportDraftBinding = Binding<ExportDefaults>;

namespace ExportDraftEdit {

// Writes the draft once, and only when the edit changed it.
void edit(const ExportDraftBinding &draft, const std::function<void(ExportDefaults &)> &change);
// Edits the options of the draft's current format: the first edit stores a complete record
// under that format, its other fields at the format's initial values; other formats' records
// are never touched.
void editOptions(const ExportDraftBinding &draft, const std::function<void(EncodingOptions &)> &change);

} // namespace ExportDraftEdit

} // namespace tampod
