#include "views/settings/export_settings_view.h"

#include "export/export_option_catalog.h"
#include "export/export_preferences.h"
#include "export/preview_audio_focus.h"
#include "player/player_model.h"
#include "views/export_form/encoding_options_view.h"
#include "views/export_form/export_form_texts.h"
#include "views/export_form/export_resolution_controls.h"
#include "views/export_form/export_resolution_note.h"
#include "views/export_form/form_text.h"
#include "views/export_form/issue_list.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/dialogs/alert_presenting.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/theme.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/settings/settings_texts.h"
#include "views/kit/clear_scroll_area.h"
#include "views/kit/widget_setters.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace tampod {

namespace T = SettingsText;

namespace {

// Only the output formats have a description; the others show no details at all.
QString descriptionOf(ExportFormat format)
{
    switch (format) {
    case ExportFormat::wav:
    case ExportFormat::aiff:
        return T::pcmDescription;
    case ExportFormat::sd2:
        return T::sd2Description;
    case ExportFormat::m4aAAC:
        return T::aacDescription;
    case ExportFormat::flac:
        return T::flacDescription;
    default:
        return QString();
    }
}

} // namespace

ExportSettingsView::ExportSettingsView(ExportPreferences &preferences, PlayerModel &player, AlertPresenting &alerts,
                                       QWidget *parent)
    : QWidget(parent)
    , preferences_(preferences)
    , player_(player)
    , alerts_(alerts)
    , draft_(preferences.defaults())
    , storedVinyl_(preferences.defaults().vinyl)
{
    // As tall as its window lets it be, up to its own height: on a short screen the form scrolls.
    setFixedWidth(contentSize.width());
    setMaximumHeight(contentSize.height());
    resize(contentSize);
    fillBackground(this, Theme::background);
    build();
    connect(&preferences_, &ExportPreferences::defaultsChanged, this, [this] {
        followStoredLevels();
        scheduler_->schedule();
    });
    refresh();
}

ExportDraftBinding ExportSettingsView::draftBinding()
{
    return ExportDraftBinding::of(this, &ExportSettingsView::draft, &ExportSettingsView::setDraft,
                                  &ExportSettingsView::draftChanged);
}

void ExportSettingsView::setDraft(const ExportDefaults &draft)
{
    if (draft_ == draft)
        return;
    draft_ = draft;
    Q_EMIT draftChanged();
}

bool ExportSettingsView::isUnapplied() const
{
    return !(draft_ == preferences_.defaults());
}

bool ExportSettingsView::canApply() const
{
    return isUnapplied() && draft_.validationIssues().isEmpty();
}

VinylEnvironment ExportSettingsView::vinylEnvironment()
{
    VinylEnvironment environment;
    environment.preferences = &preferences_;
    environment.pauseMainPlayback = player_.mainPlaybackPause();
    environment.levelNotSaved = [this] {
        alerts_.show(ExportPreferences::saveFailedTitle(), ExportPreferences::saveFailedText(), {});
    };
    return environment;
}

void ExportSettingsView::followStoredLevels()
{
    const VinylOptions stored = preferences_.defaults().vinyl;
    if (stored == storedVinyl_)
        return;
    storedVinyl_ = stored;
    ExportDefaults draft = draft_;
    draft.vinyl.amount = stored.amount;
    draft.vinyl.humAmount = stored.humAmount;
    setDraft(draft);
}

void ExportSettingsView::apply()
{
    if (!canApply())
        return;
    const ExportDefaults previous = preferences_.defaults();
    if (!preferences_.save(draft_)) {
        // What could not be stored is not applied: the draft stays unapplied until a save works.
        preferences_.setDefaults(previous);
        scheduler_->refreshNow();
        QPointer<ExportSettingsView> self(this);
        alerts_.show(ExportPreferences::saveFailedTitle(), ExportPreferences::saveFailedText(), {});
        if (self)
            self->scheduler_->refreshNow();
        return;
    }
    setDraft(preferences_.defaults());
    scheduler_->refreshNow();
}

void ExportSettingsView::windowClosed()
{
    if (AudiblePreview *preview = PreviewAudioFocus::shared().current())
        preview->stop(QString());
    setDraft(preferences_.defaults());
    scheduler_->refreshNow();
}

void ExportSettingsView::build()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *form = new QWidget(this);
    auto *stack = new QVBoxLayout(form);
    stack->setContentsMargins(8, 8, 8, 8);
    stack->setSpacing(12);
    const ExportDraftBinding draft = draftBinding();

    auto *section = new QGroupBox(T::exportDefaults, form);
    auto *rows = new QFormLayout(section);
    rows->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    format_ = formPicker(ExportFormText::format, section);
    rows->addRow(ExportFormText::format, format_);
    resolution_ = new ExportResolutionControls(draft, rows, section, true, vinylEnvironment());
    sampleRate_ = formPicker(ExportFormText::sampleRate, section);
    rows->addRow(ExportFormText::sampleRate, sampleRate_);
    stack->addWidget(section);

    resolutionNote_ = new ExportResolutionNote(true, form);
    stack->addWidget(resolutionNote_);
    encoding_ = new EncodingOptionsView(draft, form);
    stack->addWidget(encoding_);

    details_ = new QWidget(form);
    auto *detailsLayout = new QVBoxLayout(details_);
    detailsLayout->setContentsMargins(0, 0, 0, 0);
    detailsLayout->setSpacing(6);
    detailsToggle_ = new QToolButton(details_);
    detailsToggle_->setText(T::formatDetails);
    detailsToggle_->setAccessibleName(T::formatDetails);
    detailsToggle_->setCheckable(true);
    detailsToggle_->setAutoRaise(true);
    detailsToggle_->setArrowType(Qt::RightArrow);
    detailsToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    FormText::apply(detailsToggle_, TextStyle::callout);
    detailsLayout->addWidget(detailsToggle_);
    detailsBody_ = new QWidget(details_);
    auto *bodyLayout = new QVBoxLayout(detailsBody_);
    bodyLayout->setContentsMargins(20, 0, 0, 0);
    bodyLayout->setSpacing(6);
    description_ = FormText::label(QString(), TextStyle::callout, false, detailsBody_);
    notes_ = FormText::label(QString(), TextStyle::callout, true, detailsBody_);
    bodyLayout->addWidget(description_);
    bodyLayout->addWidget(notes_);
    detailsBody_->setVisible(false);
    detailsLayout->addWidget(detailsBody_);
    stack->addWidget(details_);

    bitDepthNote_ = FormText::label(T::bitDepthUnused, TextStyle::callout, true, form);
    stack->addWidget(bitDepthNote_);
    issues_ = new IssueList(form);
    stack->addWidget(issues_);
    stack->addStretch(1);
    layout->addWidget(clearScrollArea(form, this), 1);

    auto *divider = new QFrame(this);
    divider->setFixedHeight(1);
    fillBackground(divider, Theme::border);
    layout->addWidget(divider);

    auto *footer = new QWidget(this);
    auto *footerLayout = new QVBoxLayout(footer);
    footerLayout->setContentsMargins(20, 20, 20, 20);
    footerLayout->setSpacing(12);
    footerLayout->addWidget(FormText::label(T::formatsNote, TextStyle::caption, true, footer));
    auto *row = new QHBoxLayout;
    status_ = FormText::label(QString(), TextStyle::caption, true, footer);
    status_->setWordWrap(false);
    // Read as "Settings status" with the status as its value and text, a change announced.
    makeAccessible(status_, QAccessible::StaticText);
    status_->setAccessibleName(T::settingsStatus);
    row->addWidget(status_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    apply_ = new QPushButton(T::applySettings, footer);
    apply_->setAccessibleName(T::applySettings);
    apply_->setAutoDefault(false);
    apply_->setDefault(true);
    row->addWidget(apply_);
    footerLayout->addLayout(row);
    layout->addWidget(footer);

    connect(format_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        if (const auto format = ExportFormats::fromRawValue(tag))
            ExportDraftEdit::edit(draftBinding(), [&](ExportDefaults &d) { d.format = *format; });
    });
    connect(sampleRate_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        ExportDraftEdit::edit(draftBinding(), [&](ExportDefaults &d) { d.sampleRate = tag.toLongLong(); });
    });
    connect(detailsToggle_, &QToolButton::toggled, this, [this](bool open) {
        detailsToggle_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        detailsBody_->setVisible(open);
    });
    connect(apply_, &QPushButton::clicked, this, [this] { apply(); });

    scheduler_ = new RefreshScheduler([this] { refresh(); }, this);
    scheduler_->watch(this, &ExportSettingsView::draftChanged);
}

void ExportSettingsView::refresh()
{
    const ExportDefaults &draft = draft_;
    const bool offered = ExportFormats::isInCurrentScope(draft.format);
    showPickerRows(format_, ExportPickerRows::format(draft));
    resolution_->refresh(draft);
    showPickerRows(sampleRate_, ExportPickerRows::sampleRate(draft));
    resolutionNote_->refresh(draft);

    encoding_->setVisible(offered);
    details_->setVisible(offered);
    if (offered) {
        encoding_->refresh(draft);
        updateText(description_, descriptionOf(draft.format));
        updateText(notes_, ExportOptionCatalog::advancedNotes(draft.format));
    }
    bitDepthNote_->setVisible(!ExportOptionCatalog::usesBitDepth(draft.format, draft.options()));
    issues_->setIssues(draft.validationIssues());

    const QString &status = isUnapplied() ? T::unappliedChanges : T::settingsSaved;
    updateText(status_, status);
    setAccessibleValue(status_, status);
    apply_->setEnabled(canApply());
}

void ExportSettingsView::keyPressEvent(QKeyEvent *event)
{
    // Return is the window's default action; it does nothing while there is nothing to apply.
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && plain) {
        apply();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace tampod
