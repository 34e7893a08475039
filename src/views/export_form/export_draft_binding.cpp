#include "views/export_form/export_draft_binding.h"

namespace tampod::ExportDraftEdit {

void edit(const ExportDraftBinding &draft, const std::function<void(ExportDefaults &)> &change)
{
    const ExportDefaults before = draft.get();
    ExportDefaults after = before;
    change(after);
    if (!(after == before))
        draft.set(after);
}

void editOptions(const ExportDraftBinding &draft, const std::function<void(EncodingOptions &)> &change)
{
    edit(draft, [&](ExportDefaults &settings) {
        EncodingOptions options = settings.options();
        const EncodingOptions before = options;
        change(options);
        // Picking the value already shown stores nothing, not even the initial record.
        if (!(options == before))
            settings.encodingByFormat[ExportFormats::rawValue(settings.format)] = options;
    });
}

} // namespace tampod::ExportDraftEdit
