#pragma once

#include "views/export_form/export_draft_binding.h"
#include "views/export_form/export_picker_rows.h"

#include <QObject>

class QFormLayout;

namespace tampod {

class TaggedComboBox;

// Shows picker rows: rebuilds the items only when they differ, then shows the stored tag.
void showPickerRows(TaggedComboBox *picker, const PickerRows &rows);
// A picker of the export form, named for screen readers and tests by its title.
TaggedComboBox *formPicker(const QString &title, QWidget *parent);

// The bit depth, lo-fi and clipping pickers. They have no container of their own: they join
// the form that embeds them. thread: main only.
class ExportResolutionControls : public QObject {
    Q_OBJECT

public:
    ExportResolutionControls(ExportDraftBinding draft, QFormLayout *form, QWidget *parent);

    void refresh(const ExportDefaults &draft);

    TaggedComboBox *bitDepth() const { return bitDepth_; }
    TaggedComboBox *loFi() const { return loFi_; }
    TaggedComboBox *clipping() const { return clipping_; }

private:
    ExportDraftBinding draft_;
    TaggedComboBox *bitDepth_;
    TaggedComboBox *loFi_;
    TaggedComboBox *clipping_;
};

} // namespace tampod
