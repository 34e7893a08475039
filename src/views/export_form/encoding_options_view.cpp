#include "views/export_form/encoding_options_view.h"

#include "export/export_option_catalog.h"
#include "views/export_form/export_form_texts.h"
#include "views/export_form/export_picker_rows.h"
#include "views/export_form/export_resolution_controls.h"
#include "views/kit/controls/stepper.h"
#include "views/kit/controls/tagged_combo_box.h"

#include <QFormLayout>
#include <QLabel>
#include <QSignalBlocker>

#include <algorithm>
#include <limits>

namespace tampod {

namespace T = ExportFormText;
using F = ExportFormat;

namespace {

struct Range {
    int low;
    int high;
};

Range qualityRange(ExportFormat format)
{
    switch (format) {
    case F::mp3:
        return {0, 9};
    case F::oggVorbis:
        return {-1, 10};
    case F::wma:
        return {0, 100};
    default:
        return {0, 127};
    }
}

int clampedInt(std::int64_t value)
{
    return int(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

} // namespace

template <typename E>
void EncodingOptionsView::pickCase(TaggedComboBox *picker, E EncodingOptions::*field)
{
    connect(picker, &TaggedComboBox::tagChosen, this, [this, field](const QString &tag) {
        if (const auto value = RawValue::parse<E>(tag))
            ExportDraftEdit::editOptions(draft_, [&](EncodingOptions &options) { options.*field = *value; });
    });
}

EncodingOptionsView::EncodingOptionsView(ExportDraftBinding draft, QWidget *parent)
    : QGroupBox(T::formatOptions, parent)
    , draft_(std::move(draft))
    , form_(new QFormLayout(this))
    , channels_(formPicker(T::channels, this))
    , sampleEncoding_(formPicker(T::sampleEncoding, this))
    , aacProfile_(formPicker(T::aacProfile, this))
    , wmaProfile_(formPicker(T::wmaProfile, this))
    , rateMode_(formPicker(T::rateControl, this))
    , quality_(new Stepper(this))
    , qualityLabel_(new QLabel(this))
    , bitRate_(formPicker(T::bitrateTarget, this))
    , flacCompression_(formPicker(T::compression, this))
    , apeCompression_(formPicker(T::compression, this))
    , dialogueLevel_(new Stepper(this))
    , dialogueLabel_(new QLabel(this))
{
    form_->addRow(T::channels, channels_);
    form_->addRow(T::sampleEncoding, sampleEncoding_);
    form_->addRow(T::aacProfile, aacProfile_);
    form_->addRow(T::wmaProfile, wmaProfile_);
    form_->addRow(T::rateControl, rateMode_);
    form_->addRow(qualityLabel_, quality_);
    form_->addRow(T::bitrateTarget, bitRate_);
    form_->addRow(T::compression, flacCompression_);
    form_->addRow(T::compression, apeCompression_);
    form_->addRow(dialogueLabel_, dialogueLevel_);
    dialogueLevel_->setRange(-31, -1);
    for (Stepper *stepper : {quality_, dialogueLevel_})
        stepper->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    pickCase(channels_, &EncodingOptions::channels);
    pickCase(sampleEncoding_, &EncodingOptions::sampleEncoding);
    pickCase(aacProfile_, &EncodingOptions::aacProfile);
    pickCase(wmaProfile_, &EncodingOptions::wmaProfile);
    pickCase(rateMode_, &EncodingOptions::rateMode);
    pickCase(apeCompression_, &EncodingOptions::apeCompression);
    connect(bitRate_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        ExportDraftEdit::editOptions(draft_, [&](EncodingOptions &o) { o.bitRateKbps = tag.toLongLong(); });
    });
    connect(flacCompression_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        ExportDraftEdit::editOptions(draft_, [&](EncodingOptions &o) { o.compressionLevel = tag.toLongLong(); });
    });
    connect(quality_, &Stepper::valueChosen, this, [this](int value) {
        ExportDraftEdit::editOptions(draft_, [&](EncodingOptions &o) { o.quality = value; });
    });
    connect(dialogueLevel_, &Stepper::valueChosen, this, [this](int value) {
        ExportDraftEdit::editOptions(draft_, [&](EncodingOptions &o) { o.dialogueLevel = value; });
    });
}

bool EncodingOptionsView::isRowShown(QWidget *field) const
{
    int row = -1;
    QFormLayout::ItemRole role;
    form_->getWidgetPosition(field, &row, &role);
    return row >= 0 && form_->isRowVisible(row);
}

void EncodingOptionsView::refresh(const ExportDefaults &draft)
{
    const F format = draft.format;
    const EncodingOptions options = draft.options();
    const bool rateControl = ExportOptionCatalog::hasRateControl(format, options);
    const bool variable = options.rateMode == BitRateMode::variable;

    showPickerRows(channels_, ExportPickerRows::channels(draft));
    showPickerRows(sampleEncoding_, ExportPickerRows::sampleEncoding(draft));
    showPickerRows(aacProfile_, ExportPickerRows::aacProfile(draft));
    showPickerRows(wmaProfile_, ExportPickerRows::wmaProfile(draft));
    showPickerRows(rateMode_, ExportPickerRows::rateMode(draft));
    showPickerRows(bitRate_, ExportPickerRows::bitRate(draft));
    showPickerRows(flacCompression_, ExportPickerRows::flacCompression(draft));
    showPickerRows(apeCompression_, ExportPickerRows::apeCompression(draft));

    const Range range = qualityRange(format);
    {
        // A narrower range clamps the shown value; that is no choice of the user's.
        const QSignalBlocker blocker(quality_);
        quality_->setRange(range.low, range.high);
    }
    quality_->setStoredValue(clampedInt(options.quality));
    qualityLabel_->setText(T::vbrQuality + QString::number(options.quality));
    dialogueLevel_->setStoredValue(clampedInt(options.dialogueLevel));
    dialogueLabel_->setText(T::dialogueLevel + QString::number(options.dialogueLevel) + T::dB);

    form_->setRowVisible(sampleEncoding_, format == F::wav || format == F::au);
    form_->setRowVisible(aacProfile_, format == F::m4aAAC || format == F::aac);
    form_->setRowVisible(wmaProfile_, format == F::wma);
    form_->setRowVisible(rateMode_, rateControl);
    form_->setRowVisible(quality_, rateControl && variable);
    form_->setRowVisible(bitRate_, rateControl && !variable);
    form_->setRowVisible(flacCompression_, format == F::flac);
    form_->setRowVisible(apeCompression_, format == F::ape);
    form_->setRowVisible(dialogueLevel_, format == F::ac3);
}

} // namespace tampod
