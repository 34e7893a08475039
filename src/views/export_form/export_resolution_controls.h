#pragma once

#include "views/export_form/export_draft_binding.h"
#include "views/export_form/export_picker_rows.h"
#include "views/export_form/vinyl_controls.h"

#include <QObject>

class QFormLayout;

namespace tampod {

class TaggedComboBox;

// Shows picker rows: rebuilds the items only when they differ, then shows the stored tag.
void showPickerRows(TaggedComboBox *picker, const PickerRows &rows);
// A picker of the export form, named for screen readers and tests by its title.
TaggedComboBox *formPicker(const QString &title, QWidget *parent);

// The bit depth, lo-fi and clipping pickers, and when asked the Vinyl and Hum rows after them.
// They have no container of their own: they join the form that embeds them, whose widget is
// parent. The Vinyl rows need the window's environment (see VinylEnvironment) and stop their
// preview when parent is disabled or goes away. thread: main only.
class ExportResolutionControls : public QObject {
    Q_OBJECT

public:
    ExportResolutionControls(ExportDraftBinding draft, QFormLayout *form, QWidget *parent, bool includesVinyl = false,
                             VinylEnvironment vinylEnvironment = {});

    void refresh(const ExportDefaults &draft);

    TaggedComboBox *bitDepth() const { return bitDepth_; }
    TaggedComboBox *loFi() const { return loFi_; }
    TaggedComboBox *clipping() const { return clipping_; }
    // The Vinyl and Hum rows; none unless included.
    VinylControls *vinyl() const { return vinyl_; }

private:
    ExportDraftBinding draft_;
    TaggedComboBox *bitDepth_;
    TaggedComboBox *loFi_;
    TaggedComboBox *clipping_;
    VinylControls *vinyl_ = nullptr;
};

} // namespace tampod
