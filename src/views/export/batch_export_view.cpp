#include "views/export/batch_export_view.h"

#include "export/session/batch_export_session.h"
#include "views/export/batch_export_row.h"
#include "views/export/batch_export_texts.h"
#include "views/export/export_sheet_texts.h"
#include "views/export_form/export_format_controls.h"
#include "views/export_form/export_resolution_note.h"
#include "views/export_form/form_text.h"
#include "views/export_form/issue_list.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/theme.h"
#include "views/kit/clear_scroll_area.h"
#include "views/kit/widget_setters.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace tampod {

namespace B = BatchExportText;
namespace T = ExportSheetText;

namespace {

// The list while configuring shows whole rows, one to three of them, and 4 points above and
// below them.
constexpr int listPadding = 4;
constexpr int exportingListMinimum = 110;

int configuringListHeight(qsizetype items)
{
    return 2 * listPadding + BatchExportRow::lineHeight * int(std::clamp<qsizetype>(items, 1, 3));
}

} // namespace

BatchExportView *BatchExportView::make(std::unique_ptr<BatchExportSession> session, QWidget *window,
                                       VinylEnvironment vinyl)
{
    if (!session || !window)
        return nullptr;
    return new BatchExportView(std::move(session), window, std::move(vinyl));
}

BatchExportView::BatchExportView(std::unique_ptr<BatchExportSession> session, QWidget *window,
                                 VinylEnvironment vinyl)
    : SheetDialog(window)
    , session_(std::move(session))
    , vinyl_(std::move(vinyl))
{
    setWindowTitle(session_->title());
    setFixedSize(sheetWidth, sheetHeight);
    setOnClose([this] { closeActions(); });
    setRefusesClose([this] { return session_->isChoosingDestination() || session_->isExporting(); });
    build();
    refresh();
}

BatchExportView::~BatchExportView()
{
    // The window may take the sheet away without a dismissal.
    closeActions();
    delete scheduler_;
    delete content_;
}

void BatchExportView::closeActions()
{
    if (closeActionsRan_)
        return;
    closeActionsRan_ = true;
    session_->cancel();
}

void BatchExportView::build()
{
    fillBackground(this, Theme::background);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    content_ = new QWidget(this);
    outer->addWidget(content_);
    auto *layout = new QVBoxLayout(content_);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(14);

    title_ = FormText::label(session_->title(), TextStyle::title2, false, content_);
    layout->addWidget(title_);
    layout->addWidget(FormText::label(B::intro, TextStyle::callout, true, content_));

    settings_ = clearScrollArea(buildSettings(), content_);
    settings_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(settings_, 1);
    // What keeps the export back stays in sight below the form, however far down it the choice
    // that causes it lies.
    issues_ = new IssueList(content_);
    layout->addWidget(issues_);
    diagnostic_ = FormText::label(QString(), TextStyle::caption, true, content_);
    layout->addWidget(diagnostic_);
    layout->addWidget(FormText::label(B::namesNote, TextStyle::caption, true, content_));

    auto *rows = new QWidget;
    rowStack_ = new QVBoxLayout(rows);
    rowStack_->setContentsMargins(0, listPadding, 0, listPadding);
    rowStack_->setSpacing(0);
    rowStack_->addStretch(1);
    list_ = clearScrollArea(rows, content_);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list_->setAccessibleName(B::files);
    // The rows take no focus: the list does, so that the keys scroll it.
    list_->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(list_, 1);

    progress_ = new QProgressBar(content_);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(6);
    progress_->setAccessibleName(B::batchProgress);
    layout->addWidget(progress_);
    summary_ = FormText::label(QString(), TextStyle::callout, false, content_);
    layout->addWidget(summary_);

    auto *buttons = new QHBoxLayout;
    showFolder_ = plainButton(B::showFolder, content_);
    cancelBatch_ = plainButton(B::cancelBatch, content_);
    close_ = plainButton(T::cancel, content_);
    chooseFolder_ = plainButton(T::chooseFolder, content_);
    chooseFolder_->setAutoDefault(true);
    chooseFolder_->setDefault(true);
    buttons->addWidget(showFolder_);
    buttons->addStretch(1);
    buttons->addWidget(cancelBatch_);
    buttons->addWidget(close_);
    buttons->addWidget(chooseFolder_);
    layout->addLayout(buttons);

    connect(showFolder_, &QPushButton::clicked, this, [this] { session_->showFolder(); });
    connect(cancelBatch_, &QPushButton::clicked, this, [this] { session_->cancel(); });
    connect(close_, &QPushButton::clicked, this, [this] { dismiss(); });
    connect(chooseFolder_, &QPushButton::clicked, this, [this] { session_->chooseDestination(); });

    scheduler_ = new RefreshScheduler([this] { refresh(); }, this);
    const BatchExportSession *const session = session_.get();
    for (auto signal : {&BatchExportSession::draftChanged, &BatchExportSession::pairOutputChanged,
                        &BatchExportSession::itemsChanged, &BatchExportSession::isChoosingDestinationChanged,
                        &BatchExportSession::isExportingChanged, &BatchExportSession::isCancellingChanged,
                        &BatchExportSession::isFinishedChanged, &BatchExportSession::directoryChanged,
                        &BatchExportSession::capturedSettingsChanged})
        scheduler_->watch(session, signal);
}

QWidget *BatchExportView::buildSettings()
{
    auto *inner = new QWidget;
    auto *stack = new QVBoxLayout(inner);
    stack->setContentsMargins(0, 0, 12, 0);
    stack->setSpacing(14);

    // The tracks never change, so neither does the need for the pair picker.
    const QList<AudioTrack> &tracks = session_->tracks();
    const bool hasPair = std::any_of(tracks.begin(), tracks.end(), [](const AudioTrack &t) { return t.pair; });
    pairGroup_ = new QWidget(inner);
    auto *pairLayout = new QVBoxLayout(pairGroup_);
    pairLayout->setContentsMargins(0, 0, 0, 0);
    auto *pairForm = new QFormLayout;
    pairForm->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    pairOutput_ = new TaggedComboBox(pairGroup_);
    pairOutput_->setAccessibleName(T::pairOutput);
    QList<TaggedComboBox::Item> outputs;
    for (const SD2PairOutput output : RawValue::allCases<SD2PairOutput>())
        outputs.append({RawValue::text(output), RawValue::text(output)});
    pairOutput_->setItems(outputs);
    pairForm->addRow(T::pairOutput, pairOutput_);
    pairLayout->addLayout(pairForm);
    pairLayout->addWidget(FormText::label(B::pairNote, TextStyle::caption, true, pairGroup_));
    pairGroup_->setVisible(hasPair);
    stack->addWidget(pairGroup_);
    connect(pairOutput_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        if (const auto output = RawValue::parse<SD2PairOutput>(tag))
            session_->setPairOutput(*output);
    });

    format_ = new ExportFormatControls(ExportDraftBinding::of(session_.get(), &BatchExportSession::draft,
                                                              &BatchExportSession::setDraft,
                                                              &BatchExportSession::draftChanged),
                                       vinyl_, inner);
    stack->addWidget(format_);
    resolutionNote_ = new ExportResolutionNote(false, inner);
    stack->addWidget(resolutionNote_);
    stack->addSpacing(8);
    stack->addWidget(FormText::label(B::sharedSettingsNote, TextStyle::caption, true, inner));
    stack->addStretch(1);
    return inner;
}

void BatchExportView::refresh()
{
    const BatchExportSession &session = *session_;
    const bool configuring = !session.isExporting() && !session.isFinished();
    const bool locked = session.isChoosingDestination() || session.isExporting();
    const QStringList issues = session.issues();

    settings_->setVisible(configuring);
    pairOutput_->setCurrentTag(RawValue::text(session.pairOutput()));
    pairOutput_->setEnabled(!locked);
    format_->setEnabled(!locked);
    resolutionNote_->refresh(session.draft());
    issues_->setIssues(configuring ? issues : QStringList());
    diagnostic_->setVisible(!configuring);
    if (!configuring)
        updateText(diagnostic_, session.capturedSettings().value_or(session.draft()).diagnosticSummary());

    refreshRows();
    if (configuring) {
        list_->setFixedHeight(configuringListHeight(session.items().size()));
    } else {
        list_->setMinimumHeight(exportingListMinimum);
        list_->setMaximumHeight(QWIDGETSIZE_MAX);
    }

    progress_->setVisible(session.isExporting());
    const double progress = session.progress();
    progress_->setValue(int(std::lround((std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0) * 1000)));
    summary_->setVisible(session.isExporting() || session.isFinished());
    updateText(summary_, session.summary());

    showFolder_->setVisible(session.directory().has_value());
    cancelBatch_->setVisible(session.isExporting());
    cancelBatch_->setEnabled(!session.isCancelling());
    close_->setVisible(!session.isExporting());
    updateTitle(close_, session.isFinished() ? T::done : T::cancel);
    close_->setEnabled(!session.isChoosingDestination());
    chooseFolder_->setVisible(configuring);
    chooseFolder_->setEnabled(!locked && issues.isEmpty());
}

void BatchExportView::refreshRows()
{
    const QList<BatchExportItem> &items = session_->items();
    const bool same = rows_.size() == items.size() &&
                      std::equal(rows_.begin(), rows_.end(), items.begin(),
                                 [](const BatchExportRow *row, const BatchExportItem &item) { return row->id() == item.id; });
    if (!same) {
        qDeleteAll(rows_);
        rows_.clear();
        QWidget *list = list_->widget();
        for (qsizetype i = 0; i < items.size(); ++i) {
            auto *row = new BatchExportRow(list);
            row->setSeparatorAbove(i > 0);
            rowStack_->insertWidget(int(i), row);
            rows_ << row;
        }
    }
    for (qsizetype i = 0; i < items.size(); ++i)
        rows_[i]->setItem(items[i]);
}

void BatchExportView::keyPressEvent(QKeyEvent *event)
{
    // Escape presses the cancel-key button of the moment, or nothing when it is disabled.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        QPushButton *cancelKey = cancelBatch_->isVisibleTo(this) ? cancelBatch_ : close_;
        if (cancelKey->isEnabled())
            cancelKey->click();
        event->accept();
        return;
    }
    SheetDialog::keyPressEvent(event);
}

} // namespace tampod
