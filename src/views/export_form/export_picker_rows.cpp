#include "views/export_form/export_picker_rows.h"

#include "export/export_option_catalog.h"
#include "views/export_form/export_form_texts.h"

#include <QLocale>

#include <algorithm>

namespace tampod::ExportPickerRows {

namespace T = ExportFormText;
using F = ExportFormat;

namespace {

template <typename C, typename V>
bool contains(const C &values, const V &value)
{
    return std::find(values.begin(), values.end(), value) != values.end();
}

QString number(std::int64_t value)
{
    return QString::number(value);
}

template <typename E>
QString raw(E value)
{
    return RawValue::text(value);
}

// Every case of an enumeration, titled by its raw value.
template <typename E>
PickerRows allCases(E current)
{
    PickerRows rows;
    for (const E value : RawValue::allCases<E>())
        rows.items.append({raw(value), raw(value)});
    rows.tag = raw(current);
    return rows;
}

// The offered cases, under a disabled row for a stored case not among them.
template <typename E, typename Title>
PickerRows offeredCases(E current, const std::vector<E> &offered, Title title)
{
    PickerRows rows;
    if (!contains(offered, current))
        rows.items.append({raw(current), title(current) + T::savedUnavailable, false});
    for (const E value : offered)
        rows.items.append({raw(value), title(value)});
    rows.tag = raw(current);
    return rows;
}

QString loFiText(LoFiTreatment treatment)
{
    switch (treatment) {
    case LoFiTreatment::off:
        return T::off;
    case LoFiTreatment::eightBit:
        return T::eightBit;
    case LoFiTreatment::twelveBit:
        return T::twelveBit;
    }
    return T::off;
}

} // namespace

QString rateText(std::int64_t hertz)
{
    return QLocale().toString(double(hertz) / 1000.0, 'g', QLocale::FloatingPointShortest) + T::kHz;
}

QString clippingText(std::int64_t dB)
{
    if (dB == 0)
        return T::off;
    // A negative drive reads as itself, never "+-3 dB".
    return (dB > 0 ? QStringLiteral("+") : QString()) + number(dB) + T::dB;
}

PickerRows format(const ExportDefaults &draft)
{
    PickerRows rows;
    if (!ExportFormats::isInCurrentScope(draft.format))
        rows.items.append({ExportFormats::rawValue(draft.format),
                           ExportFormats::title(draft.format) + T::savedUnavailable, false});
    for (const F choice : ExportFormats::currentChoices())
        rows.items.append({ExportFormats::rawValue(choice), ExportFormats::title(choice)});
    rows.tag = ExportFormats::rawValue(draft.format);
    return rows;
}

PickerRows sampleRate(const ExportDefaults &draft)
{
    PickerRows rows;
    const auto offered = ExportOptionCatalog::sampleRates(draft.format, draft.options());
    if (!contains(offered, draft.sampleRate)) {
        const QString text = rateText(draft.sampleRate);
        rows.items.append({number(draft.sampleRate), text.left(text.size() - T::kHz.size()) + T::chooseValidRate});
    }
    for (const std::int64_t rate : offered)
        rows.items.append({number(rate), rateText(rate)});
    rows.tag = number(draft.sampleRate);
    rows.enabled = ExportFormats::isInCurrentScope(draft.format);
    return rows;
}

PickerRows bitDepth(const ExportDefaults &draft)
{
    PickerRows rows;
    const auto offered = draft.availableBitDepths();
    if (!contains(offered, draft.bitDepth))
        rows.items.append({number(draft.bitDepth), number(draft.bitDepth) + T::bit + T::chooseSupportedDepth, false});
    for (const std::int64_t depth : offered)
        rows.items.append({number(depth), number(depth) + T::bit});
    rows.tag = number(draft.bitDepth);
    rows.enabled = ExportFormats::isInCurrentScope(draft.format) &&
                   ExportOptionCatalog::usesBitDepth(draft.format, draft.options());
    return rows;
}

PickerRows loFi(const ExportDefaults &draft)
{
    PickerRows rows;
    const bool supported = draft.supportsLoFi();
    if (!supported && draft.loFi != LoFiTreatment::off)
        rows.items.append({raw(draft.loFi), loFiText(draft.loFi) + T::chooseOffOrDepth});
    rows.items.append({raw(LoFiTreatment::off), T::off});
    if (supported) {
        rows.items.append({raw(LoFiTreatment::eightBit), T::eightBit});
        rows.items.append({raw(LoFiTreatment::twelveBit), T::twelveBit});
    }
    rows.tag = raw(draft.loFi);
    rows.enabled = supported || draft.loFi != LoFiTreatment::off;
    return rows;
}

PickerRows clipping(const ExportDefaults &draft)
{
    PickerRows rows;
    const std::int64_t drive = draft.clippingDB;
    const bool supported = draft.supportsClipping();
    rows.items.append({number(0), T::off});
    if (supported) {
        if (drive < 0 || drive > 12)
            rows.items.append({number(drive), clippingText(drive) + T::chooseClippingRange});
        for (std::int64_t dB = 1; dB <= 12; ++dB)
            rows.items.append({number(dB), clippingText(dB)});
    } else if (drive != 0) {
        // One row per tag: an out-of-range drive the format cannot take at all asks for Off.
        rows.items.append({number(drive), clippingText(drive) + T::chooseOffOrOutput});
    }
    rows.tag = number(drive);
    rows.enabled = supported || drive != 0;
    return rows;
}

PickerRows channels(const ExportDefaults &draft)
{
    return allCases(draft.options().channels);
}

PickerRows sampleEncoding(const ExportDefaults &draft)
{
    return offeredCases(draft.options().sampleEncoding, ExportOptionCatalog::sampleEncodings(draft.format),
                        static_cast<QString (*)(SampleEncoding)>(&title));
}

PickerRows aacProfile(const ExportDefaults &draft)
{
    return offeredCases(draft.options().aacProfile, {AACProfile::lc}, &raw<AACProfile>);
}

PickerRows wmaProfile(const ExportDefaults &draft)
{
    return allCases(draft.options().wmaProfile);
}

PickerRows rateMode(const ExportDefaults &draft)
{
    // M4A–AAC's one mode is titled "Average (ABR)"; an average kept from older settings reads
    // as that mode (ExportDefaults::options), so it is that row, not a disabled twin beside it.
    return offeredCases(draft.options().rateMode, ExportOptionCatalog::rateModes(draft.format),
                        [&](BitRateMode mode) { return ExportOptionCatalog::rateModeTitle(draft.format, mode); });
}

PickerRows bitRate(const ExportDefaults &draft)
{
    PickerRows rows;
    const EncodingOptions options = draft.options();
    const auto offered = ExportOptionCatalog::bitRates(draft.format, options, draft.sampleRate);
    if (!contains(offered, options.bitRateKbps))
        rows.items.append({number(options.bitRateKbps), number(options.bitRateKbps) + T::chooseValidTarget});
    for (const std::int64_t kbps : offered)
        rows.items.append({number(kbps), number(kbps) + T::kbps});
    rows.tag = number(options.bitRateKbps);
    return rows;
}

PickerRows flacCompression(const ExportDefaults &draft)
{
    PickerRows rows;
    const std::int64_t level = draft.options().compressionLevel;
    rows.items.append({number(5), T::automatic});
    if (level != 5)
        rows.items.append({number(level), number(level) + T::savedUnavailable, false});
    rows.tag = number(level);
    return rows;
}

PickerRows apeCompression(const ExportDefaults &draft)
{
    return allCases(draft.options().apeCompression);
}

} // namespace tampod::ExportPickerRows
