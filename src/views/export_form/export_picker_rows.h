#pragma once

#include "export/export_defaults.h"
#include "views/kit/controls/tagged_combo_box.h"

#include <QList>
#include <QString>

#include <cstdint>

namespace tampod {

// What one picker of the export form shows for a draft: its rows, the tag of the stored value
// and whether it can be used. A stored value the format cannot use gets a suffixed row of its
// own, so the picker shows it without ever writing it. Pure functions of the draft.
struct PickerRows {
    QList<TaggedComboBox::Item> items;
    QString tag;
    bool enabled = true;
};

namespace ExportPickerRows {

// Texts of values: "48 kHz" in the user's locale, "24 bit", "+6 dB".
QString rateText(std::int64_t hertz);
QString clippingText(std::int64_t dB);

PickerRows format(const ExportDefaults &draft);
PickerRows sampleRate(const ExportDefaults &draft);
PickerRows bitDepth(const ExportDefaults &draft);
PickerRows loFi(const ExportDefaults &draft);
PickerRows clipping(const ExportDefaults &draft);

// The rows of the format options; each is shown only where the format uses it.
PickerRows channels(const ExportDefaults &draft);
PickerRows sampleEncoding(const ExportDefaults &draft);
PickerRows aacProfile(const ExportDefaults &draft);
PickerRows wmaProfile(const ExportDefaults &draft);
PickerRows rateMode(const ExportDefaults &draft);
PickerRows bitRate(const ExportDefaults &draft);
PickerRows flacCompression(const ExportDefaults &draft);
PickerRows apeCompression(const ExportDefaults &draft);

} // namespace ExportPickerRows

} // namespace tampod
