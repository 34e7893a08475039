#include "views/export_form/export_resolution_controls.h"

#include "views/export_form/export_form_texts.h"
#include "views/kit/controls/tagged_combo_box.h"

#include <QAbstractItemModel>
#include <QFormLayout>

namespace tampod {

void showPickerRows(TaggedComboBox *picker, const PickerRows &rows)
{
    bool same = picker->count() == rows.items.size();
    for (int i = 0; same && i < picker->count(); ++i) {
        const auto &item = rows.items[i];
        same = picker->itemData(i).toString() == item.tag && picker->itemText(i) == item.title &&
               bool(picker->model()->flags(picker->model()->index(i, 0)) & Qt::ItemIsEnabled) == item.enabled;
    }
    if (!same)
        picker->setItems(rows.items);
    picker->setCurrentTag(rows.tag);
    picker->setEnabled(rows.enabled);
}

TaggedComboBox *formPicker(const QString &title, QWidget *parent)
{
    auto *picker = new TaggedComboBox(parent);
    picker->setAccessibleName(title);
    picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return picker;
}

ExportResolutionControls::ExportResolutionControls(ExportDraftBinding draft, QFormLayout *form, QWidget *parent,
                                                   bool includesVinyl, VinylEnvironment vinylEnvironment)
    : QObject(parent)
    , draft_(std::move(draft))
    , bitDepth_(formPicker(ExportFormText::bitDepth, parent))
    , loFi_(formPicker(ExportFormText::loFi, parent))
    , clipping_(formPicker(ExportFormText::clipping, parent))
{
    form->addRow(ExportFormText::bitDepth, bitDepth_);
    form->addRow(ExportFormText::loFi, loFi_);
    form->addRow(ExportFormText::clipping, clipping_);
    if (includesVinyl)
        vinyl_ = new VinylControls(draft_, std::move(vinylEnvironment), form, parent);
    connect(bitDepth_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        ExportDraftEdit::edit(draft_, [&](ExportDefaults &d) { d.bitDepth = tag.toLongLong(); });
    });
    connect(loFi_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        if (const auto value = RawValue::parse<LoFiTreatment>(tag))
            ExportDraftEdit::edit(draft_, [&](ExportDefaults &d) { d.loFi = *value; });
    });
    connect(clipping_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        ExportDraftEdit::edit(draft_, [&](ExportDefaults &d) { d.clippingDB = tag.toLongLong(); });
    });
}

void ExportResolutionControls::refresh(const ExportDefaults &draft)
{
    showPickerRows(bitDepth_, ExportPickerRows::bitDepth(draft));
    showPickerRows(loFi_, ExportPickerRows::loFi(draft));
    showPickerRows(clipping_, ExportPickerRows::clipping(draft));
    if (vinyl_)
        vinyl_->refresh();
}

} // namespace tampod
