// The export-settings form: every row a stored value the format cannot use adds, shown
// without being written, and the per-format record the first edit stores.
#include "views/export_form/encoding_options_view.h"
#include "views/export_form/export_format_controls.h"
#include "views/export_form/export_resolution_controls.h"
#include "views/export_form/export_resolution_note.h"
#include "views/kit/controls/stepper.h"
#include "views/kit/controls/tagged_combo_box.h"

#include <QLabel>

#include <QAbstractItemModel>
#include <QAccessible>
#include <QLocale>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace tampod;

namespace {

// A draft held by the test; every write through the binding is counted.
struct DraftHolder {
    explicit DraftHolder(ExportDefaults initial) : draft(std::move(initial)) {}

    ExportDefaults draft;
    int writes = 0;
    ObservableFlag changed;

    ExportDraftBinding binding()
    {
        return ExportDraftBinding(
            [this] { return draft; },
            [this](const ExportDefaults &value) {
                ++writes;
                draft = value;
                changed.setValue(!changed.value());
            },
            [this](QObject *context, std::function<void()> onChange) {
                return QObject::connect(&changed, &ObservableFlag::valueChanged, context, std::move(onChange));
            });
    }
};

bool selectable(const TaggedComboBox *picker, int row)
{
    return bool(picker->model()->flags(picker->model()->index(row, 0)) & Qt::ItemIsEnabled);
}

ExportDefaults draftOf(ExportFormat format, std::int64_t bits, std::int64_t rate,
                       const std::function<void(ExportDefaults &)> &more = {})
{
    ExportDefaults draft;
    draft.format = format;
    draft.bitDepth = bits;
    draft.sampleRate = rate;
    if (more)
        more(draft);
    return draft;
}

void setOptions(ExportDefaults &draft, const std::function<void(EncodingOptions &)> &change)
{
    EncodingOptions options = EncodingOptions::initial(draft.format);
    change(options);
    draft.encodingByFormat[ExportFormats::rawValue(draft.format)] = options;
}

struct LocaleScope {
    LocaleScope() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    ~LocaleScope() { QLocale::setDefault(previous); }
    QLocale previous = QLocale();
};

} // namespace

TEST(ExportForm, EverySuffixedRowShowsTheStoredValueWithoutWritingIt)
{
    LocaleScope locale;
    using Picker = std::function<TaggedComboBox *(ExportFormatControls &)>;
    const Picker format = [](ExportFormatControls &c) { return c.format(); };
    const Picker rate = [](ExportFormatControls &c) { return c.sampleRate(); };
    const Picker depth = [](ExportFormatControls &c) { return c.resolution().bitDepth(); };
    const Picker loFi = [](ExportFormatControls &c) { return c.resolution().loFi(); };
    const Picker clipping = [](ExportFormatControls &c) { return c.resolution().clipping(); };
    const Picker encoding = [](ExportFormatControls &c) { return c.encodingOptions()->sampleEncoding(); };
    const Picker profile = [](ExportFormatControls &c) { return c.encodingOptions()->aacProfile(); };
    const Picker rateMode = [](ExportFormatControls &c) { return c.encodingOptions()->rateMode(); };
    const Picker bitRate = [](ExportFormatControls &c) { return c.encodingOptions()->bitRate(); };
    const Picker flac = [](ExportFormatControls &c) { return c.encodingOptions()->flacCompression(); };
    const auto m4a = [](const std::function<void(EncodingOptions &)> &change) {
        return draftOf(ExportFormat::m4aAAC, 16, 48000, [&](ExportDefaults &d) { setOptions(d, change); });
    };

    struct Case {
        const char *name;
        ExportDefaults draft;
        Picker picker;
        int row;
        QString text;
        bool canChoose;
        QStringList neighbours; // the first rows, in order, suffixed row included
    };
    const QList<Case> cases = {
        {"format", draftOf(ExportFormat::mp3, 16, 44100), format, 0, "MP3 — saved, unavailable", false,
         {"MP3 — saved, unavailable", "WAV", "AIFF", "FLAC", "M4A — AAC", "SD2"}},
        {"rate", draftOf(ExportFormat::m4aAAC, 24, 96000), rate, 0, "96 kHz — choose a valid rate", true,
         {"96 kHz — choose a valid rate", "44.1 kHz", "48 kHz"}},
        {"bit depth", draftOf(ExportFormat::aiff, 8, 48000), depth, 0, "8 bit — choose a supported depth", false,
         {"8 bit — choose a supported depth", "16 bit", "24 bit"}},
        {"lo-fi", draftOf(ExportFormat::aiff, 8, 48000, [](ExportDefaults &d) { d.loFi = LoFiTreatment::eightBit; }),
         loFi, 0, "8-bit — choose Off or a supported depth", true, {"8-bit — choose Off or a supported depth", "Off"}},
        {"clipping", draftOf(ExportFormat::wav, 24, 48000, [](ExportDefaults &d) { d.clippingDB = 15; }), clipping, 1,
         "+15 dB — choose +1 to +12 dB", true, {"Off", "+15 dB — choose +1 to +12 dB", "+1 dB"}},
        {"negative clipping", draftOf(ExportFormat::wav, 24, 48000, [](ExportDefaults &d) { d.clippingDB = -3; }),
         clipping, 1, "-3 dB — choose +1 to +12 dB", true, {"Off", "-3 dB — choose +1 to +12 dB", "+1 dB"}},
        // Unsupported and out of range: one row for the one tag.
        {"clipping unsupported",
         draftOf(ExportFormat::aiff, 8, 48000, [](ExportDefaults &d) { d.clippingDB = 15; }), clipping, 1,
         "+15 dB — choose Off or supported output", true, {"Off", "+15 dB — choose Off or supported output"}},
        {"sample encoding",
         draftOf(ExportFormat::wav, 24, 48000,
                 [](ExportDefaults &d) { setOptions(d, [](EncodingOptions &o) { o.sampleEncoding = SampleEncoding::floatingPoint; }); }),
         encoding, 0, "32-bit floating point — saved, unavailable", false,
         {"32-bit floating point — saved, unavailable", "Integer PCM"}},
        {"AAC profile", m4a([](EncodingOptions &o) { o.aacProfile = AACProfile::he; }), profile, 0,
         "HE-AAC — saved, unavailable", false, {"HE-AAC — saved, unavailable", "AAC-LC"}},
        {"rate control", draftOf(ExportFormat::mp3, 16, 44100, [](ExportDefaults &d) { setOptions(d, [](EncodingOptions &o) { o.rateMode = BitRateMode::constrained; }); }),
         rateMode, 0, "Constrained VBR — saved, unavailable", false,
         {"Constrained VBR — saved, unavailable", "Constant (CBR)", "Average (ABR)", "Variable (VBR)"}},
        {"bitrate target", m4a([](EncodingOptions &o) { o.bitRateKbps = 320; }), bitRate, 0,
         "320 kbps — choose a valid target", true,
         {"320 kbps — choose a valid target", "64 kbps", "96 kbps", "128 kbps", "192 kbps", "256 kbps"}},
        {"FLAC level",
         draftOf(ExportFormat::flac, 24, 48000,
                 [](ExportDefaults &d) { setOptions(d, [](EncodingOptions &o) { o.compressionLevel = 8; }); }),
         flac, 1, "8 — saved, unavailable", false, {"Automatic", "8 — saved, unavailable"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DraftHolder holder{c.draft};
        ExportFormatControls controls(holder.binding());
        TaggedComboBox *picker = c.picker(controls);
        QStringList rows;
        for (int i = 0; i < std::min<int>(picker->count(), c.neighbours.size()); ++i)
            rows << picker->itemText(i);
        EXPECT_EQ(rows, c.neighbours);
        ASSERT_LT(c.row, picker->count());
        EXPECT_EQ(picker->itemText(c.row), c.text);
        EXPECT_EQ(selectable(picker, c.row), c.canChoose);
        EXPECT_EQ(picker->currentIndex(), c.row); // shown as the selection
        EXPECT_EQ(holder.writes, 0);
        EXPECT_EQ(holder.draft, c.draft);
    }
}

TEST(ExportForm, PickersFollowTheFormatAndTheFirstEditStoresOneCompleteRecord)
{
    LocaleScope locale;
    DraftHolder holder{draftOf(ExportFormat::mp3, 16, 11025)};
    ExportFormatControls controls(holder.binding());
    EXPECT_FALSE(controls.sampleRate()->isEnabled());
    EXPECT_TRUE(controls.encodingOptions()->isHidden());
    EXPECT_EQ(controls.sampleRate()->itemText(0), "11.025 kHz — choose a valid rate");
    // A screen reader hears each picker's label, and its choice as its value.
    const std::pair<TaggedComboBox *, QString> labelled[] = {{controls.format(), "Format"},
                                                             {controls.resolution().loFi(), "Lo-fi treatment"},
                                                             {controls.resolution().clipping(), "Clipping drive"}};
    for (const auto &[picker, label] : labelled) {
        QAccessibleInterface *element = QAccessible::queryAccessibleInterface(picker);
        EXPECT_EQ(element->text(QAccessible::Name), label);
        EXPECT_EQ(element->text(QAccessible::Value), picker->currentText());
    }

    // A format outside the offer can be left; a chosen row stores its tag and nothing else.
    Q_EMIT controls.format()->activated(controls.format()->findData("m4aAAC"));
    EXPECT_EQ(holder.writes, 1);
    EXPECT_EQ(holder.draft, draftOf(ExportFormat::m4aAAC, 16, 11025));
    controls.refresh();
    EncodingOptionsView &options = *controls.encodingOptions();
    EXPECT_FALSE(options.isHidden());
    EXPECT_FALSE(controls.resolution().bitDepth()->isEnabled()); // AAC has no file depth
    EXPECT_TRUE(controls.resolution().loFi()->isEnabled());
    EXPECT_TRUE(options.isRowShown(options.aacProfile()));
    EXPECT_TRUE(options.isRowShown(options.bitRate()));
    EXPECT_FALSE(options.isRowShown(options.quality()));
    EXPECT_FALSE(options.isRowShown(options.sampleEncoding()));
    EXPECT_FALSE(options.isRowShown(options.flacCompression()));
    EXPECT_TRUE(controls.sd2Note()->isHidden());
    EXPECT_EQ(options.bitRate()->currentText(), "256 kbps");
    // M4A's one rate mode is labelled what its encoder does, under the value it is saved as.
    EXPECT_TRUE(options.isRowShown(options.rateMode()));
    EXPECT_EQ(options.rateMode()->count(), 1);
    EXPECT_EQ(options.rateMode()->currentText(), "Average (ABR)");
    EXPECT_EQ(options.rateMode()->currentTag(), "Constant (CBR)");

    holder.draft.encodingByFormat["wav"] = EncodingOptions::initial(ExportFormat::wav);
    holder.draft.encodingByFormat["wav"].channels = ExportChannels::mono;
    const auto wavEntry = holder.draft.encodingByFormat["wav"];
    // Picking what is shown stores nothing, not even the initial record.
    Q_EMIT options.bitRate()->activated(options.bitRate()->findData("256"));
    EXPECT_EQ(holder.draft.encodingByFormat.count("m4aAAC"), 0u);
    Q_EMIT options.bitRate()->activated(options.bitRate()->findData("128"));
    EncodingOptions expected = EncodingOptions::initial(ExportFormat::m4aAAC);
    expected.bitRateKbps = 128;
    EXPECT_EQ(holder.draft.encodingByFormat.size(), 2u);
    EXPECT_EQ(holder.draft.encodingByFormat.at("m4aAAC"), expected);
    EXPECT_EQ(holder.draft.encodingByFormat.at("wav"), wavEntry);

    // SD2 shows its note; FLAC its compression row only.
    Q_EMIT controls.format()->activated(controls.format()->findData("sd2"));
    controls.refresh();
    EXPECT_FALSE(controls.sd2Note()->isHidden());
    EXPECT_TRUE(options.isRowShown(options.channels()));
    EXPECT_FALSE(options.isRowShown(options.aacProfile()));
    Q_EMIT controls.format()->activated(controls.format()->findData("flac"));
    controls.refresh();
    EXPECT_TRUE(options.isRowShown(options.flacCompression()));
    EXPECT_TRUE(controls.sd2Note()->isHidden());
}


TEST(ExportForm, AnM4AAverageFromOlderSettingsIsTheOneRateRow)
{
    // Not a disabled twin beside the one row: that row, shown as the selection, read as M4A's
    // one mode without a write.
    const ExportDefaults older = draftOf(ExportFormat::m4aAAC, 16, 48000, [](ExportDefaults &d) {
        setOptions(d, [](EncodingOptions &o) { o.rateMode = BitRateMode::average; });
    });
    DraftHolder holder{older};
    ExportFormatControls controls(holder.binding());
    TaggedComboBox *picker = controls.encodingOptions()->rateMode();
    ASSERT_EQ(picker->count(), 1);
    EXPECT_EQ(std::pair(picker->currentIndex(), picker->currentText()), std::pair(0, QString("Average (ABR)")));
    EXPECT_TRUE(selectable(picker, 0));
    EXPECT_EQ(std::pair(holder.writes, holder.draft), std::pair(0, older));
    Q_EMIT picker->activated(0);
    EXPECT_EQ(holder.draft.options().rateMode, BitRateMode::constant);
    controls.refresh();
    EXPECT_EQ(std::pair(picker->count(), picker->currentText()), std::pair(1, QString("Average (ABR)")));
}
TEST(ExportForm, TheLoFiAndClippingRowsOfferWhatTheFormatTakesAndTheNoteEndsByTheWindow)
{
    LocaleScope locale;
    const auto items = [](const TaggedComboBox *picker) {
        QStringList shown;
        for (int i = 0; i < picker->count(); ++i)
            shown << picker->itemText(i);
        return shown;
    };
    QStringList drives{"Off"};
    for (int dB = 1; dB <= 12; ++dB)
        drives << "+" + QString::number(dB) + " dB";
    const struct {
        ExportDefaults draft;
        QStringList loFi;
        bool loFiEnabled;
    } rows[] = {
        {draftOf(ExportFormat::wav, 16, 44100), {"Off", "8-bit", "12-bit"}, true},
        {draftOf(ExportFormat::m4aAAC, 16, 48000), {"Off", "8-bit", "12-bit"}, true},
        {draftOf(ExportFormat::wav, 8, 44100), {"Off"}, false},
    };
    for (const auto &row : rows) {
        DraftHolder holder{row.draft};
        ExportFormatControls controls(holder.binding());
        EXPECT_EQ(items(controls.resolution().loFi()), row.loFi);
        EXPECT_EQ(controls.resolution().loFi()->isEnabled(), row.loFiEnabled);
        if (row.loFiEnabled) {
            EXPECT_EQ(items(controls.resolution().clipping()), drives);
        }
    }

    const QString grit = "Lo-fi treatment adds 8- or 12-bit grit while keeping the chosen file bit depth.";
    const struct {
        bool allowsPreview;
        ExportDefaults draft;
        QString note;
    } notes[] = {
        {true, draftOf(ExportFormat::aiff, 24, 44100), grit + " Hear it with Processed preview in Export; main playback stays unchanged."},
        {false, draftOf(ExportFormat::flac, 16, 44100), grit + " Main playback stays unchanged."},
        {true, draftOf(ExportFormat::m4aAAC, 16, 44100),
         "Lo-fi treatment adds 8- or 12-bit grit before lossy encoding. AAC has no file PCM bit depth."},
        {false, draftOf(ExportFormat::wav, 8, 44100),
         "8-bit WAV stores smaller, low-resolution audio. Lo-fi treatment is available with 16/24-bit WAV, AIFF or "
         "FLAC, and AAC."},
    };
    for (const auto &row : notes) {
        ExportResolutionNote note(row.allowsPreview);
        note.refresh(row.draft);
        ASSERT_GE(note.texts().size(), 2);
        EXPECT_EQ(note.texts()[0], row.note);
    }
}
