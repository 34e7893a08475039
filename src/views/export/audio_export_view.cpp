#include "views/export/audio_export_view.h"

#include "export/session/export_session.h"
#include "library/bpm_value.h"
#include "library/sd2_pair_audio.h"
#include "library/sd2_recovery.h"
#include "views/export/export_preview_controls.h"
#include "views/export/export_sheet_texts.h"
#include "views/export/loop_export_controls.h"
#include "views/export_form/export_format_controls.h"
#include "views/export_form/export_resolution_note.h"
#include "views/export_form/form_text.h"
#include "views/export_form/issue_list.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/theme.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/kit/clear_scroll_area.h"
#include "views/kit/widget_setters.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace tampod {

namespace T = ExportSheetText;

namespace {

constexpr int sheetWidth = 500;
constexpr int sheetHeight = 690;

// The whole percentage reached, truncated: 0.999 is 99.
int percentOf(double progress)
{
    if (!std::isfinite(progress))
        return 0;
    return int(std::trunc(std::clamp(progress, 0.0, 1.0) * 100));
}

} // namespace

AudioExportView *AudioExportView::make(std::unique_ptr<ExportSession> session, QWidget *window, VinylEnvironment vinyl)
{
    if (!session || !window)
        return nullptr;
    return new AudioExportView(std::move(session), window, std::move(vinyl));
}

AudioExportView::AudioExportView(std::unique_ptr<ExportSession> session, QWidget *window, VinylEnvironment vinyl)
    : SheetDialog(window)
    , session_(std::move(session))
{
    setWindowTitle(T::title);
    setFixedSize(sheetWidth, sheetHeight);
    setOnClose([this] { closeActions(); });
    setRefusesClose([this] { return session_->isBusy(); });
    build(std::move(vinyl));
    refresh();
}

AudioExportView::~AudioExportView()
{
    // The window may take the sheet away without a dismissal.
    closeActions();
    delete scheduler_;
    delete content_;
}

void AudioExportView::closeActions()
{
    if (closeActionsRan_)
        return;
    closeActionsRan_ = true;
    session_->preview().stop(QString());
    session_->cancel();
}

void AudioExportView::build(VinylEnvironment vinyl)
{
    fillBackground(this, Theme::background);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    content_ = new QWidget(this);
    outer->addWidget(content_);
    auto *layout = new QVBoxLayout(content_);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);

    layout->addWidget(FormText::label(T::title, TextStyle::title2, false, content_));
    // Two lines at most; a longer name keeps its start and its extension.
    name_ = new MiddleElidedLabel(content_, 2);
    FormText::apply(name_, TextStyle::headline);
    layout->addWidget(name_);
    recovery_ = FormText::label(QString(), TextStyle::caption, true, content_);
    layout->addWidget(recovery_);

    auto *inner = new QWidget(content_);
    auto *stack = new QVBoxLayout(inner);
    stack->setContentsMargins(0, 0, 12, 0);
    stack->setSpacing(14);

    const ExportDraftBinding draft = ExportDraftBinding::of(session_.get(), &ExportSession::draft,
                                                            &ExportSession::setDraft, &ExportSession::draftChanged);
    const ExportSession *const session = session_.get();

    pairGroup_ = new QWidget(inner);
    auto *pairLayout = new QVBoxLayout(pairGroup_);
    pairLayout->setContentsMargins(0, 0, 0, 0);
    auto *pairForm = pairForm_ = new QFormLayout;
    pairForm->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    pairOutput_ = new TaggedComboBox(pairGroup_);
    pairOutput_->setAccessibleName(T::pairOutput);
    QList<TaggedComboBox::Item> outputs;
    for (const SD2PairOutput output : RawValue::allCases<SD2PairOutput>())
        outputs.append({RawValue::text(output), RawValue::text(output)});
    pairOutput_->setItems(outputs);
    pairForm->addRow(T::pairOutput, pairOutput_);
    baseName_ = new QLineEdit(pairGroup_);
    baseName_->setAccessibleName(T::baseFilename);
    setPlainToolTip(baseName_, T::baseFilenameHelp);
    pairForm->addRow(T::baseFilename, baseName_);
    pairLayout->addLayout(pairForm);
    pairLayout->addWidget(FormText::label(T::pairNote, TextStyle::caption, true, pairGroup_));
    stack->addWidget(pairGroup_);

    format_ = new ExportFormatControls(draft, std::move(vinyl), inner);
    stack->addWidget(format_);
    resolutionNote_ = new ExportResolutionNote(true, inner);
    stack->addWidget(resolutionNote_);
    loop_ = new LoopExportControls(*session_, inner);
    stack->addWidget(loop_);
    stack->addWidget(FormText::label(T::levelsNote, TextStyle::caption, true, inner));
    playbackNote_ = FormText::label(session->track().pair ? T::pairPlaybackNote : T::playbackNote,
                                    TextStyle::caption, true, inner);
    stack->addWidget(playbackNote_);
    bpm_ = FormText::label(QString(), TextStyle::caption, true, inner);
    stack->addWidget(bpm_);
    stack->addStretch(1);
    scroll_ = clearScrollArea(inner, content_);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(scroll_, 1);
    // What keeps the export back stays in sight above the buttons it disables, however far
    // down the form the choice that causes it lies.
    issues_ = new IssueList(content_);
    layout->addWidget(issues_);

    preview_ = new ExportPreviewControls(*session_, content_);
    layout->addWidget(preview_);

    progress_ = new QProgressBar(content_);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(6);
    layout->addWidget(progress_);
    progressLine_ = FormText::label(QString(), TextStyle::caption, false, content_);
    progressLine_->setAccessibleName(T::exportProgress);
    layout->addWidget(progressLine_);
    message_ = FormText::label(QString(), TextStyle::callout, false, content_);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    layout->addWidget(message_);

    auto *buttons = new QHBoxLayout;
    showInFolder_ = plainButton(T::showInFolder, content_);
    restoreAccess_ = plainButton(T::restoreAccess, content_);
    cancelExport_ = plainButton(T::cancelExport, content_);
    close_ = plainButton(T::cancel, content_);
    default_ = plainButton(T::chooseDestination, content_);
    default_->setAutoDefault(true);
    default_->setDefault(true);
    buttons->addWidget(showInFolder_);
    buttons->addWidget(restoreAccess_);
    buttons->addStretch(1);
    buttons->addWidget(cancelExport_);
    buttons->addWidget(close_);
    buttons->addWidget(default_);
    layout->addLayout(buttons);

    connect(pairOutput_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        if (const auto output = RawValue::parse<SD2PairOutput>(tag))
            session_->setPairOutput(*output);
    });
    connect(baseName_, &QLineEdit::textEdited, this, [this](const QString &text) { session_->setPairBaseName(text); });
    connect(showInFolder_, &QPushButton::clicked, this, [this] { session_->showInFolder(); });
    connect(restoreAccess_, &QPushButton::clicked, this, [this] { session_->restoreFileAccess(); });
    connect(cancelExport_, &QPushButton::clicked, this, [this] { session_->cancel(); });
    connect(close_, &QPushButton::clicked, this, [this] { dismiss(); });
    connect(default_, &QPushButton::clicked, this, [this] { session_->chooseDestination(); });

    scheduler_ = new RefreshScheduler([this] { refresh(); }, this);
    for (auto signal : {&ExportSession::draftChanged, &ExportSession::exportsLoopChanged,
                        &ExportSession::repeatTextChanged, &ExportSession::pairOutputChanged,
                        &ExportSession::pairBaseNameChanged, &ExportSession::isChoosingDestinationChanged,
                        &ExportSession::isRestoringAccessChanged, &ExportSession::isExportingChanged,
                        &ExportSession::isCancellingChanged, &ExportSession::progressChanged,
                        &ExportSession::resultChanged, &ExportSession::messageChanged})
        scheduler_->watch(session, signal);
}

void AudioExportView::refresh()
{
    const ExportSession &session = *session_;
    const AudioTrack &track = session.track();
    const bool pair = track.pair != nullptr;
    const bool locked = session.isBusy() || session.result().has_value();
    const bool separate = session.pairOutput() == SD2PairOutput::separateMono;

    // The URL the track was loaded from, never the stand-in of a source that went missing.
    name_->setFullText(track.displayName());
    recovery_->setVisible(track.recovery.has_value());
    if (track.recovery)
        updateText(recovery_, track.recovery->summary() + T::recoveryResamples);

    pairGroup_->setVisible(pair);
    pairOutput_->setCurrentTag(RawValue::text(session.pairOutput()));
    pairOutput_->setEnabled(!locked);
    pairForm_->setRowVisible(baseName_, separate);
    if (baseName_->text() != session.pairBaseName())
        baseName_->setText(session.pairBaseName());
    baseName_->setEnabled(!locked);

    format_->setEnabled(!locked);
    resolutionNote_->refresh(session.draft());
    updateText(bpm_, BPMValue::exportSummary(track.effectiveBPM(), session.draft().format));
    issues_->setIssues(session.issues());

    progress_->setVisible(session.isExporting());
    progressLine_->setVisible(session.isExporting());
    progress_->setValue(int(std::lround(std::clamp(session.progress(), 0.0, 1.0) * 1000)));
    updateText(progressLine_, session.isCancelling()
                               ? T::cancelling
                               : T::exporting + QString::number(percentOf(session.progress())) + QStringLiteral("%"));
    message_->setVisible(!session.message().isEmpty());
    updateText(message_, session.message());

    const bool hasResult = session.result().has_value();
    showInFolder_->setVisible(hasResult);
    restoreAccess_->setVisible(!pair && !hasResult);
    restoreAccess_->setEnabled(!session.isBusy());
    cancelExport_->setVisible(session.isExporting());
    cancelExport_->setEnabled(!session.isCancelling());
    close_->setVisible(!session.isExporting());
    updateTitle(close_, hasResult ? T::done : T::cancel);
    close_->setEnabled(!session.isBusy());
    default_->setVisible(!session.isExporting() && !hasResult);
    default_->setEnabled(!session.isBusy() && session.issues().isEmpty());
    updateTitle(default_, separate ? T::chooseFolder : session.exportsLoop() ? T::saveLoop : T::chooseDestination);
}

void AudioExportView::keyPressEvent(QKeyEvent *event)
{
    // Escape presses the cancel-key button of the moment, or nothing when it is disabled.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        QPushButton *cancelKey = cancelExport_->isVisibleTo(this) ? cancelExport_ : close_;
        if (cancelKey->isEnabled())
            cancelKey->click();
        event->accept();
        return;
    }
    SheetDialog::keyPressEvent(event);
}

} // namespace tampod
