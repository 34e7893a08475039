#pragma once

#include "views/export_form/export_draft_binding.h"

#include <QGroupBox>

class QFormLayout;
class QLabel;

namespace tampod {

class Stepper;
class TaggedComboBox;

// The "Format options" section: the options of the draft's current format, one row per option
// the format uses. thread: main only.
class EncodingOptionsView : public QGroupBox {
    Q_OBJECT

public:
    explicit EncodingOptionsView(ExportDraftBinding draft, QWidget *parent = nullptr);

    void refresh(const ExportDefaults &draft);

    TaggedComboBox *channels() const { return channels_; }
    TaggedComboBox *sampleEncoding() const { return sampleEncoding_; }
    TaggedComboBox *aacProfile() const { return aacProfile_; }
    TaggedComboBox *wmaProfile() const { return wmaProfile_; }
    TaggedComboBox *rateMode() const { return rateMode_; }
    TaggedComboBox *bitRate() const { return bitRate_; }
    TaggedComboBox *flacCompression() const { return flacCompression_; }
    TaggedComboBox *apeCompression() const { return apeCompression_; }
    Stepper *quality() const { return quality_; }
    Stepper *dialogueLevel() const { return dialogueLevel_; }
    // Whether the row holding a field's control is shown.
    bool isRowShown(QWidget *field) const;

private:
    template <typename E>
    void pickCase(TaggedComboBox *picker, E EncodingOptions::*field);

    ExportDraftBinding draft_;
    QFormLayout *form_;
    TaggedComboBox *channels_;
    TaggedComboBox *sampleEncoding_;
    TaggedComboBox *aacProfile_;
    TaggedComboBox *wmaProfile_;
    TaggedComboBox *rateMode_;
    Stepper *quality_;
    QLabel *qualityLabel_;
    TaggedComboBox *bitRate_;
    TaggedComboBox *flacCompression_;
    TaggedComboBox *apeCompression_;
    Stepper *dialogueLevel_;
    QLabel *dialogueLabel_;
};

} // namespace tampod
