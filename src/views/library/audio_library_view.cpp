#include "views/library/audio_library_view.h"

#include "player/player_model.h"
#include "views/kit/design_scale.h"
#include "views/kit/design_scale_layout.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/theme.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/library/library_header.h"
#include "views/library/library_rows.h"
#include "views/library/library_table.h"
#include "views/library/library_table_model.h"
#include "views/library/library_texts.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace tampod {

namespace {

constexpr int captionSize = 11;
constexpr double hintSize = 22;

QFont captionFont()
{
    QFont font = QApplication::font();
    font.setPixelSize(captionSize);
    return font;
}

QLabel *caption(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setFont(captionFont());
    label->setTextFormat(Qt::PlainText);
    return label;
}

QWidget *line(QWidget *parent, int margin)
{
    auto *widget = new QWidget(parent);
    auto *layout = new QHBoxLayout(widget);
    layout->setContentsMargins(margin, margin, margin, margin);
    return widget;
}

template <typename T>
void setShown(T *widget, bool shown)
{
    if (widget->isVisibleTo(widget->parentWidget()) != shown)
        widget->setVisible(shown);
}

} // namespace

AudioLibraryView::AudioLibraryView(PlayerModel &player, std::function<void()> onExport, QWidget *parent)
    : QWidget(parent)
    , player_(player)
    , header_(new LibraryHeader(this))
    , table_(new LibraryTable(this))
    , hint_(new QLabel(LibraryText::dropHint, this))
    , bar_(line(this, 8))
    , link_(new QPushButton(LibraryText::link, bar_))
    , unlink_(new QPushButton(LibraryText::unlink, bar_))
    , summary_(caption(bar_))
    , export_(new QPushButton(LibraryText::exportChecked, bar_))
    , linking_(line(this, 8))
    , linkingProgress_(new QProgressBar(linking_))
    , message_(caption(this))
    , recoverySlot_(new QVBoxLayout)
    , loading_(line(this, 8))
    , scheduler_(new RefreshScheduler([this] { refresh(); }, this))
    , trackScheduler_(new RefreshScheduler([this] { refreshChangedTracks(); }, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header_);
    layout->addSpacing(1); // the divider, painted by the pane
    layout->addWidget(table_, 1);
    layout->addWidget(hint_, 1);
    layout->addWidget(bar_);
    layout->addWidget(linking_);
    layout->addWidget(message_);
    recoverySlot_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(recoverySlot_);
    layout->addWidget(loading_);

    hint_->setAlignment(Qt::AlignCenter);
    QPalette hintPalette = hint_->palette();
    hintPalette.setColor(QPalette::WindowText, Theme::libraryHint);
    hint_->setPalette(hintPalette);

    auto *barLayout = static_cast<QHBoxLayout *>(bar_->layout());
    barLayout->addWidget(link_);
    barLayout->addWidget(unlink_);
    barLayout->addWidget(summary_);
    barLayout->addStretch(1);
    barLayout->addWidget(export_);
    setPlainToolTip(link_, LibraryText::linkHelp);
    connect(link_, &QPushButton::clicked, this, [this] {
        if (const auto pair = player_.namedLinkSelection())
            player_.pairSD2(pair->first, pair->second);
    });
    connect(unlink_, &QPushButton::clicked, this, [this] { player_.unpairSelected(); });
    connect(export_, &QPushButton::clicked, this, [onExport = std::move(onExport)] {
        if (onExport)
            onExport();
    });

    linkingProgress_->setRange(0, 1000);
    linkingProgress_->setTextVisible(false);
    auto *cancelLinking = new QPushButton(LibraryText::cancelLinking, linking_);
    linking_->layout()->addWidget(linkingProgress_);
    linking_->layout()->addWidget(cancelLinking);
    connect(cancelLinking, &QPushButton::clicked, this, [this] { player_.pairing().cancel(); });

    message_->setContentsMargins(6, 6, 6, 6);
    message_->setWordWrap(true);

    auto *spinner = new QProgressBar(loading_);
    spinner->setRange(0, 0); // indeterminate
    spinner->setTextVisible(false);
    spinner->setFixedSize(32, 8);
    auto *loadingText = caption(loading_);
    loadingText->setText(LibraryText::loadingAudio);
    static_cast<QHBoxLayout *>(loading_->layout())->addWidget(spinner);
    static_cast<QHBoxLayout *>(loading_->layout())->addWidget(loadingText, 1);

    table_->onSelection = [this](const QSet<QUuid> &ids) { player_.selectVisibleLibraryRows(ids); };
    table_->onPlay = [this](const QUuid &id) {
        if (const auto owner = player_.libraryOwner(id))
            player_.playTrack(*owner);
    };
    table_->onCheck = [this](const QUuid &id, bool checked) {
        if (const auto owner = player_.libraryOwner(id))
            player_.setExportChecked(*owner, checked);
    };
    table_->onGetBPM = [this](const QUuid &id) { player_.getBPM(id); };
    table_->onCancelBPM = [this](const QUuid &id) {
        if (const auto owner = player_.libraryOwner(id))
            player_.bpmDetection().cancel(*owner);
    };
    connect(table_, &LibraryTable::columnsChanged, this, &AudioLibraryView::placeHeader);

    for (auto signal : {&PlayerModel::tracksChanged, &PlayerModel::selectedIDChanged, &PlayerModel::repeatIDChanged})
        scheduler_->watch(&player_, signal);
    scheduler_->watch(&player_.librarySelection(), &LibrarySelection::idsChanged);
    scheduler_->watch(&player_.exportChecks(), &ExportCheckSelection::idsChanged);
    scheduler_->watch(&player_.sectionLoop(), &SectionLoopCoordinator::rangeChanged);
    scheduler_->watch(&player_.bpmDetection(), &BPMDetectionQueue::statesChanged);
    const auto trackChanged = [this](const QUuid &id) {
        changedTracks_.insert(id);
        trackScheduler_->schedule();
    };
    connect(&player_.bpmDetection(), &BPMDetectionQueue::progressChanged, this, trackChanged);
    connect(&player_.bpmDetection(), &BPMDetectionQueue::ended, this, trackChanged);
    connect(&player_, &PlayerModel::trackChanged, this, trackChanged);
    scheduler_->watch(&player_.recoveryQueue(), &SD2RecoveryQueue::statesChanged);
    for (auto signal : {&SD2PairCoordinator::isPreparingChanged, &SD2PairCoordinator::progressChanged,
                        &SD2PairCoordinator::messageChanged})
        scheduler_->watch(&player_.pairing(), signal);
    scheduler_->watch(&player_.imports(), &AudioImportCoordinator::pendingCountChanged);
    refresh();
}

AudioLibraryView::~AudioLibraryView() = default;

double AudioLibraryView::scale() const
{
    // The pane is narrower than the content by the sidebar: s is the content's.
    return DesignScale::of(this);
}

std::vector<LibraryRow> AudioLibraryView::rows() const
{
    return libraryRows(player_, &rowCache_);
}

void AudioLibraryView::setRecoveryStatus(QWidget *status)
{
    while (QLayoutItem *item = recoverySlot_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (status)
        recoverySlot_->addWidget(status);
}

void AudioLibraryView::refresh()
{
    ++refreshCount_;
    changedTracks_.clear(); // shown by this refresh
    const double s = scale();
    const int headerHeight = std::max(1, qRound(LibraryHeader::designHeight * s));
    if (header_->height() != headerHeight || header_->minimumHeight() != headerHeight)
        header_->setFixedHeight(headerHeight);
    const QFont hintFont = DesignScaleLayout::scaledFont(QApplication::font(), hintSize, s);
    if (hint_->font() != hintFont)
        hint_->setFont(hintFont);

    const bool empty = player_.tracks().isEmpty();
    std::optional<QUuid> focus;
    if (const auto &selected = player_.selectedID()) {
        if (const QList<LinkedLibraryEntry> entries = player_.libraryEntriesOf(*selected); !entries.isEmpty())
            focus = entries.first().track->id;
    }
    table_->apply({rows(), player_.visibleLibraryIDs(player_.librarySelection().ids()), focus, s,
                   player_.visibleLibraryIDs(player_.exportChecks().ids())});
    setShown(table_, !empty);
    setShown(hint_, empty);

    setShown(bar_, !empty);
    const auto named = player_.namedLinkSelection();
    const auto current = player_.selectedTrack();
    setShown(link_, named.has_value());
    setShown(unlink_, !named && player_.selectedTracks().size() == 1 && current && current->pair);
    const LibraryExportSelection selection = player_.libraryExportSelection();
    summary_->setText(selection.summary());
    const bool allLinked = !selection.tracks.isEmpty() &&
                           std::all_of(selection.tracks.cbegin(), selection.tracks.cend(),
                                       [](const AudioTrack &track) { return track.pair != nullptr; });
    export_->setText(allLinked ? LibraryText::exportLinked
                     : !selection.tracks.isEmpty() && !selection.usesChecks ? LibraryText::exportSelected
                                                                           : LibraryText::exportChecked);
    export_->setEnabled(!selection.tracks.isEmpty());
    setPlainToolTip(export_, selection.help());

    SD2PairCoordinator &pairing = player_.pairing();
    setShown(linking_, !empty && pairing.isPreparing());
    const int progress = qRound(std::clamp(pairing.progress(), 0.0, 1.0) * 1000);
    if (linkingProgress_->value() != progress)
        linkingProgress_->setValue(progress);
    message_->setText(pairing.message());
    setShown(message_, !empty && !pairing.message().isEmpty());
    setShown(loading_, player_.imports().pendingCount() >= 1);
    placeHeader();
}

void AudioLibraryView::refreshChangedTracks()
{
    const QSet<QUuid> owners = std::exchange(changedTracks_, {});
    // A refresh on its way shows every row as it stands.
    if (scheduler_->isScheduled())
        return;
    for (const QUuid &owner : owners) {
        if (!table_->tableModel()->update(libraryRowsOf(player_, owner, &rowCache_))) {
            scheduler_->refreshNow();
            return;
        }
    }
}

void AudioLibraryView::placeHeader()
{
    if (!table_->isVisibleTo(this)) {
        header_->setColumns(LibraryColumns::edges(width(), scale()), scale());
        return;
    }
    auto edges = table_->columnEdges();
    const int offset = table_->viewport()->mapTo(this, QPoint(0, 0)).x();
    for (int &x : edges)
        x += offset;
    header_->setColumns(edges, table_->scale());
}

void AudioLibraryView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    scheduler_->schedule();
}

void AudioLibraryView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Theme::background);
    painter.fillRect(QRect(0, header_->geometry().bottom() + 1, width(), 1), Theme::border);
}

} // namespace tampod
