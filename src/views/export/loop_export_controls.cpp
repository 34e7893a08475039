#include "views/export/loop_export_controls.h"

#include "export/session/export_session.h"
#include "views/export/export_sheet_texts.h"
#include "views/export_form/form_text.h"
#include "views/kit/controls/stepper.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/theme.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/kit/widget_setters.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tampod {

namespace T = ExportSheetText;

namespace {

const QString entireTag = QStringLiteral("entire");
const QString loopTag = QStringLiteral("loop");

// The stepper beside the count field: its arrows alone, the field shows the count as typed.
// It steps from the typed count, not from the count clamped into its range: 0 goes up to 1
// and 1000 down to 999.
class RepeatStepper final : public Stepper {
public:
    RepeatStepper(const ExportSession &session, QWidget *parent)
        : Stepper(parent)
        , session_(session)
    {
        setRange(1, int(maximum));
        lineEdit()->setVisible(false);
        setFixedSize(20, 24);
    }

    void stepBy(int steps) override
    {
        const int next = stepped(steps);
        setStoredValue(next);
        // Emitted even when the shown value stays, as when a typed 1000 becomes 999.
        Q_EMIT valueChosen(next);
    }

protected:
    StepEnabled stepEnabled() const override
    {
        StepEnabled enabled = StepNone;
        if (stepped(1) != typed())
            enabled |= StepUpEnabled;
        if (stepped(-1) != typed())
            enabled |= StepDownEnabled;
        return enabled;
    }

private:
    static constexpr std::int64_t maximum = LoopExportOptions::maximumRepeats;

    // The typed count, held within one step of the range.
    std::int64_t typed() const
    {
        return std::clamp<std::int64_t>(ExportSession::repeatCount(session_.repeatText()), 0, maximum + 1);
    }
    int stepped(int steps) const { return int(std::clamp<std::int64_t>(typed() + steps, 1, maximum)); }

    const ExportSession &session_;
};

} // namespace

LoopExportControls::LoopExportControls(ExportSession &session, QWidget *parent)
    : QWidget(parent)
    , session_(session)
    , scheduler_(new RefreshScheduler([this] { refresh(); }, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    loopPart_ = new QWidget(this);
    auto *loopLayout = new QVBoxLayout(loopPart_);
    loopLayout->setContentsMargins(0, 0, 0, 0);
    loopLayout->setSpacing(10);
    auto *pickerForm = new QFormLayout;
    pickerForm->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    exportPicker_ = new TaggedComboBox(loopPart_);
    exportPicker_->setAccessibleName(T::exportPicker);
    exportPicker_->setItems({{entireTag, T::entireFile}, {loopTag, T::selectedLoop}});
    pickerForm->addRow(T::exportPicker, exportPicker_);
    loopLayout->addLayout(pickerForm);

    repeatPart_ = new QWidget(loopPart_);
    auto *repeatLayout = new QVBoxLayout(repeatPart_);
    repeatLayout->setContentsMargins(0, 0, 0, 0);
    repeatLayout->setSpacing(10);
    repeatLayout->addWidget(FormText::label(T::repeatsHeading, TextStyle::callout, false, repeatPart_));

    auto *quickRow = new QHBoxLayout;
    quickRow->setSpacing(8);
    QLabel *quickLabel = FormText::label(T::quickChoices, TextStyle::caption, true, repeatPart_);
    quickLabel->setWordWrap(false);
    quickRow->addWidget(quickLabel);
    for (const int count : quickChoices) {
        auto *button = new QPushButton(QString::number(count), repeatPart_);
        makeAccessible(button, QAccessible::Button);
        button->setAccessibleName(T::repeatLoop.arg(count));
        FormText::apply(button, TextStyle::caption);
        button->setFixedHeight(22);
        button->setMinimumWidth(32);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, count] { session_.setRepeatText(QString::number(count)); });
        quickRow->addWidget(button);
        quickButtons_ << button;
    }
    quickRow->addStretch(1);
    repeatLayout->addLayout(quickRow);

    auto *customRow = new QHBoxLayout;
    customRow->addWidget(FormText::label(T::customCount, TextStyle::callout, false, repeatPart_));
    repeatField_ = new QLineEdit(repeatPart_);
    repeatField_->setAccessibleName(T::repeatCount);
    repeatField_->setFixedWidth(80);
    customRow->addWidget(repeatField_);
    repeatStepper_ = new RepeatStepper(session_, repeatPart_);
    repeatStepper_->setAccessibleName(T::repeatCount);
    customRow->addWidget(repeatStepper_);
    QLabel *range = FormText::label(T::repeatRange, TextStyle::caption, true, repeatPart_);
    range->setWordWrap(false);
    customRow->addWidget(range);
    customRow->addStretch(1);
    repeatLayout->addLayout(customRow);

    section_ = FormText::label(QString(), TextStyle::caption, true, repeatPart_);
    repeatLayout->addWidget(section_);
    loopLength_ = FormText::label(QString(), TextStyle::callout, false, repeatPart_);
    repeatLayout->addWidget(loopLength_);
    loopLayout->addWidget(repeatPart_);
    layout->addWidget(loopPart_);

    exportedLength_ = FormText::label(QString(), TextStyle::callout, false, this);
    QFont bold = exportedLength_->font();
    bold.setBold(true);
    exportedLength_->setFont(bold);
    layout->addWidget(exportedLength_);
    summary_ = FormText::label(QString(), TextStyle::caption, true, this);
    layout->addWidget(summary_);

    connect(exportPicker_, &TaggedComboBox::tagChosen, this,
            [this](const QString &tag) { session_.setExportsLoop(tag == loopTag); });
    connect(repeatField_, &QLineEdit::textEdited, this, [this](const QString &text) { session_.setRepeatText(text); });
    connect(repeatStepper_, &Stepper::valueChosen, this,
            [this](int value) { session_.setRepeatText(QString::number(value)); });

    for (auto signal : {&ExportSession::exportsLoopChanged, &ExportSession::repeatTextChanged,
                        &ExportSession::pairOutputChanged, &ExportSession::isChoosingDestinationChanged,
                        &ExportSession::isExportingChanged, &ExportSession::isRestoringAccessChanged,
                        &ExportSession::resultChanged})
        scheduler_->watch(&session_, signal);
    refresh();
}

QPushButton *LoopExportControls::quickChoice(int count) const
{
    for (QPushButton *button : quickButtons_) {
        if (button->text() == QString::number(count))
            return button;
    }
    return nullptr;
}

void LoopExportControls::refresh()
{
    const auto &loop = session_.selectedLoop();
    const auto options = session_.loopOptions();
    loopPart_->setVisible(loop != nullptr);
    exportPicker_->setCurrentTag(session_.exportsLoop() ? loopTag : entireTag);
    repeatPart_->setVisible(loop && session_.exportsLoop());

    for (QPushButton *button : std::as_const(quickButtons_)) {
        const bool selected = options && QString::number(options->repeatCount) == button->text();
        QPalette palette = this->palette();
        if (selected) {
            palette.setColor(QPalette::ButtonText, Theme::accent);
            palette.setColor(QPalette::Button, Theme::selectedChoiceTint);
        }
        button->setPalette(palette);
        setAccessibleValue(button, selected ? T::selected : QString());
    }
    if (repeatField_->text() != session_.repeatText())
        repeatField_->setText(session_.repeatText());
    const std::int64_t count = options ? options->repeatCount : 1;
    repeatStepper_->setStoredValue(int(std::clamp<std::int64_t>(count, -1, LoopExportOptions::maximumRepeats + 1)));
    repeatStepper_->update(); // its arrows follow the typed count, which the shown value may not

    if (loop) {
        const double start = double(loop->startFrame()) / loop->sampleRate();
        const double end = double(loop->endFrame()) / loop->sampleRate();
        updateText(section_, T::selectedSection + LoopExportOptions::durationText(start) + T::sectionDash +
                              LoopExportOptions::durationText(end));
        updateText(loopLength_, T::loopLength + LoopExportOptions::durationText(end - start));
    }
    const auto duration = session_.outputDuration();
    updateText(exportedLength_, T::exportedLength + (duration ? LoopExportOptions::durationText(*duration) : T::noLength));
    updateText(summary_, session_.outputSummary());
    setEnabled(!session_.isBusy() && !session_.result());
}

} // namespace tampod
