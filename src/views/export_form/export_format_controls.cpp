#include "views/export_form/export_format_controls.h"

#include "views/export_form/encoding_options_view.h"
#include "views/export_form/export_form_texts.h"
#include "views/export_form/export_resolution_controls.h"
#include "views/export_form/form_text.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/refresh_scheduler.h"

#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tampod {

namespace T = ExportFormText;

ExportFormatControls::ExportFormatControls(ExportDraftBinding draft, QWidget *parent)
    : ExportFormatControls(std::move(draft), VinylEnvironment(), parent)
{
}

ExportFormatControls::ExportFormatControls(ExportDraftBinding draft, VinylEnvironment vinylEnvironment,
                                           QWidget *parent)
    : QWidget(parent)
    , draft_(std::move(draft))
    , scheduler_(new RefreshScheduler([this] { refresh(); }, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    auto *basic = new QWidget(this);
    auto *form = new QFormLayout(basic);
    form->setContentsMargins(0, 0, 0, 0);
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    format_ = formPicker(T::format, basic);
    sampleRate_ = formPicker(T::sampleRate, basic);
    form->addRow(T::format, format_);
    form->addRow(T::sampleRate, sampleRate_);
    resolution_ = new ExportResolutionControls(draft_, form, basic);
    layout->addWidget(basic);

    auto *vinylForm = new QWidget(this);
    auto *vinylRows = new QFormLayout(vinylForm);
    vinylRows->setContentsMargins(0, 0, 0, 0);
    vinylRows->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    vinyl_ = new VinylControls(draft_, std::move(vinylEnvironment), vinylRows, vinylForm);
    layout->addWidget(vinylForm);

    encoding_ = new EncodingOptionsView(draft_, this);
    layout->addWidget(encoding_);
    sd2Note_ = FormText::label(T::sd2Note, TextStyle::caption, true, this);
    layout->addWidget(sd2Note_);

    connect(format_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        if (const auto format = ExportFormats::fromRawValue(tag))
            ExportDraftEdit::edit(draft_, [&](ExportDefaults &d) { d.format = *format; });
    });
    connect(sampleRate_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        ExportDraftEdit::edit(draft_, [&](ExportDefaults &d) { d.sampleRate = tag.toLongLong(); });
    });
    draft_.onChange(this, [this] { scheduler_->schedule(); });
    refresh();
}

void ExportFormatControls::refresh()
{
    const ExportDefaults draft = draft_.get();
    showPickerRows(format_, ExportPickerRows::format(draft));
    showPickerRows(sampleRate_, ExportPickerRows::sampleRate(draft));
    resolution_->refresh(draft);
    vinyl_->refresh();
    encoding_->refresh(draft);
    encoding_->setVisible(ExportFormats::isInCurrentScope(draft.format));
    sd2Note_->setVisible(draft.format == ExportFormat::sd2);
}

} // namespace tampod
