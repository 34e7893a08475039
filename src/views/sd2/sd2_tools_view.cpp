#include "views/sd2/sd2_tools_view.h"

#include "views/sd2/internal/sd2_styles.h"
#include "views/sd2/sd2_view_rules.h"
#include "views/sd2/sd2_view_texts.h"

#include "views/kit/refresh_scheduler.h"
#include "views/kit/dialogs/sheet_dialog.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/theme.h"
#include "views/kit/widget_setters.h"

#include "core/number_text.h"
#include "library/sd2_identification.h"
#include "library/sd2_pair_audio.h"
#include "player/player_model.h"
#include "sd2/sd2_pair_model.h"

#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cmath>

namespace tampod {

namespace {

constexpr int depthChoices[] = {8, 16, 24, 32};

QString tagOf(const std::optional<QUuid> &id)
{
    return id ? id->toString(QUuid::WithoutBraces) : QString();
}

std::optional<QUuid> idOf(const QString &tag)
{
    const QUuid id(tag);
    return id.isNull() ? std::nullopt : std::optional(id);
}

std::optional<AudioTrack> findIn(const QList<AudioTrack> &tracks, const std::optional<QUuid> &id)
{
    if (id)
        for (const AudioTrack &track : tracks)
            if (track.id == *id)
                return track;
    return std::nullopt;
}

QWidget *column(QWidget *parent, int spacing, QVBoxLayout *&layout)
{
    auto *widget = new QWidget(parent);
    layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return widget;
}

QFormLayout *form()
{
    auto *form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return form;
}

// The percentage the listening volume is capped at while a trial depth is in force.
QString volumeCapText()
{
    const auto cap = NumberText::toInt64(std::round(SD2RecoveryQueue::trialVolumeCap * 100));
    return SD2ViewText::volumeCapPrefix + QLocale().toString(cap.value_or(0)) + SD2ViewText::volumeCapSuffix;
}

} // namespace

SD2ToolsView::SD2ToolsView(PlayerModel &player, QWidget *parent)
    : QWidget(parent)
    , player_(&player)
    , scheduler_(new RefreshScheduler([this] { refresh(); }, this))
{
    // As tall as its sheet: on a short screen the form scrolls and Done stays in sight.
    setFixedWidth(fixedSize.width());
    setMaximumHeight(fixedSize.height());
    fillBackground(this, Theme::background);
    setFont(SD2Style::font(SD2Style::body));

    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(24, 24, 24, 24);
    stack->setSpacing(16);
    auto *title = SD2Style::label(SD2Style::title2, std::nullopt, this, true);
    title->setText(SD2ViewText::toolsTitle);
    stack->addWidget(title);

    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // No nameless Tab stop before the controls, as the kit's clear scroll areas.
    scroll->setFocusPolicy(Qt::ClickFocus);
    QVBoxLayout *content = nullptr;
    QWidget *contentWidget = column(scroll, 16, content);
    fillBackground(contentWidget, Theme::background);
    scroll->setWidget(contentWidget);
    stack->addWidget(scroll, 1);

    // The selected track.
    QVBoxLayout *selected = nullptr;
    selectedGroup_ = column(contentWidget, 8, selected);
    content->addWidget(selectedGroup_);
    trackName_ = SD2Style::label(SD2Style::headline, std::nullopt, selectedGroup_, true);
    selected->addWidget(trackName_);
    trackNote_ = SD2Style::label(SD2Style::caption, Theme::sd2Note, selectedGroup_);
    selected->addWidget(trackNote_);

    QVBoxLayout *recovery = nullptr;
    recoveryForm_ = column(selectedGroup_, 8, recovery);
    selected->addWidget(recoveryForm_);
    summary_ = SD2Style::label(SD2Style::callout, std::nullopt, recoveryForm_);
    recovery->addWidget(summary_);
    QFormLayout *parameters = form();
    bitsPicker_ = new TaggedComboBox(recoveryForm_);
    QList<TaggedComboBox::Item> depths;
    for (const int bits : depthChoices)
        depths.append({NumberText::wholeQ(bits), NumberText::wholeQ(bits) + SD2ViewText::bitLabelSuffix});
    bitsPicker_->setItems(depths);
    bitsPicker_->setAccessibleName(SD2ViewText::bitDepthPicker);
    parameters->addRow(SD2ViewText::bitDepthPicker, bitsPicker_);
    rateField_ = new QLineEdit(recoveryForm_);
    rateField_->setAccessibleName(SD2ViewText::sampleRateField);
    parameters->addRow(SD2ViewText::sampleRateField, rateField_);
    channelsPicker_ = new TaggedComboBox(recoveryForm_);
    channelsPicker_->setItems({{QStringLiteral("1"), SD2ViewText::mono}, {QStringLiteral("2"), SD2ViewText::stereo}});
    channelsPicker_->setAccessibleName(SD2ViewText::channelsPicker);
    parameters->addRow(SD2ViewText::channelsPicker, channelsPicker_);
    recovery->addLayout(parameters);
    auto *interpretation = SD2Style::label(SD2Style::caption, Theme::secondaryText, recoveryForm_);
    interpretation->setText(SD2ViewText::interpretationNote);
    recovery->addWidget(interpretation);
    volumeNote_ = SD2Style::label(SD2Style::caption, Theme::secondaryText, recoveryForm_);
    volumeNote_->setText(volumeCapText());
    recovery->addWidget(volumeNote_);
    prepare_ = plainButton(SD2ViewText::prepareRecoveryCopy, recoveryForm_);
    recovery->addWidget(prepare_, 0, Qt::AlignLeading);

    QVBoxLayout *pair = nullptr;
    pairSummary_ = column(selectedGroup_, 8, pair);
    selected->addWidget(pairSummary_);
    pairText_ = SD2Style::label(SD2Style::body, std::nullopt, pairSummary_);
    pair->addWidget(pairText_);
    auto *pairNote = SD2Style::label(SD2Style::body, std::nullopt, pairSummary_);
    pairNote->setText(SD2ViewText::pairNote);
    pair->addWidget(pairNote);
    unpair_ = plainButton(SD2ViewText::unpair, pairSummary_);
    pair->addWidget(unpair_, 0, Qt::AlignLeading);

    decoderNote_ = SD2Style::label(SD2Style::callout, std::nullopt, selectedGroup_);
    decoderNote_->setText(SD2ViewText::decoderNote);
    selected->addWidget(decoderNote_);

    // Linking two mono files.
    QVBoxLayout *pairing = nullptr;
    pairingGroup_ = column(contentWidget, 8, pairing);
    content->addWidget(pairingGroup_);
    auto *divider = new QFrame(pairingGroup_);
    divider->setFixedHeight(1);
    fillBackground(divider, Theme::border);
    pairing->addWidget(divider);
    auto *heading = SD2Style::label(SD2Style::headline, std::nullopt, pairingGroup_, true);
    heading->setText(SD2ViewText::pairHeading);
    pairing->addWidget(heading);
    QFormLayout *channels = form();
    leftPicker_ = new TaggedComboBox(pairingGroup_);
    leftPicker_->setAccessibleName(SD2ViewText::leftChannel);
    channels->addRow(SD2ViewText::leftChannel, leftPicker_);
    rightPicker_ = new TaggedComboBox(pairingGroup_);
    rightPicker_->setAccessibleName(SD2ViewText::rightChannel);
    channels->addRow(SD2ViewText::rightChannel, rightPicker_);
    pairing->addLayout(channels);
    auto *rules = SD2Style::label(SD2Style::caption, Theme::secondaryText, pairingGroup_);
    rules->setText(SD2ViewText::pairingNote);
    pairing->addWidget(rules);
    issue_ = SD2Style::label(SD2Style::caption, Theme::secondaryText, pairingGroup_);
    pairing->addWidget(issue_);
    pairingProgress_ = SD2Style::progressBar(pairingGroup_);
    pairing->addWidget(pairingProgress_);
    cancelPairing_ = plainButton(SD2ViewText::cancelPairing, pairingGroup_);
    pairing->addWidget(cancelPairing_, 0, Qt::AlignLeading);
    createPair_ = plainButton(SD2ViewText::createStereoPair, pairingGroup_);
    pairing->addWidget(createPair_, 0, Qt::AlignLeading);
    message_ = SD2Style::label(SD2Style::callout, std::nullopt, pairingGroup_);
    pairing->addWidget(message_);
    content->addStretch(1);

    auto *row = new QHBoxLayout;
    row->addStretch(1);
    done_ = plainButton(SD2ViewText::done, this);
    row->addWidget(done_);
    stack->addLayout(row);

    connect(bitsPicker_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        bits_ = tag.toInt();
        scheduler_->schedule();
    });
    connect(rateField_, &QLineEdit::textEdited, this, [this](const QString &text) {
        rate_ = text;
        scheduler_->schedule();
    });
    connect(channelsPicker_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        channels_ = tag.toInt();
        scheduler_->schedule();
    });
    connect(prepare_, &QPushButton::clicked, this, [this] { prepareRecovery(); });
    connect(unpair_, &QPushButton::clicked, this, [this] {
        if (player_)
            player_->unpairSelected();
        closeSheet();
    });
    connect(leftPicker_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) { chooseLeft(tag); });
    connect(rightPicker_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        rightID_ = idOf(tag);
        scheduler_->schedule();
    });
    connect(createPair_, &QPushButton::clicked, this, [this] { createPair(); });
    connect(cancelPairing_, &QPushButton::clicked, this, [this] {
        if (player_)
            player_->pairing().cancel();
    });
    connect(done_, &QPushButton::clicked, this, [this] { closeSheet(); });

    // A change of the current track ends the sheet at once, before anything acts on it.
    connect(&player, &PlayerModel::selectedIDChanged, this, [this] { selectionChanged(); });
    scheduler_->watch(&player, &PlayerModel::tracksChanged);
    scheduler_->watch(&player, &PlayerModel::selectedIDChanged);
    scheduler_->watch(&player.librarySelection(), &LibrarySelection::idsChanged);
    scheduler_->watch(&player.recoveryQueue(), &SD2RecoveryQueue::statesChanged);
    scheduler_->watch(&player.pairing(), &SD2PairCoordinator::isPreparingChanged);
    scheduler_->watch(&player.pairing(), &SD2PairCoordinator::progressChanged);
    scheduler_->watch(&player.pairing(), &SD2PairCoordinator::messageChanged);
    refresh();
}

SD2ToolsView::~SD2ToolsView()
{
    // Gone without being closed (its window went): the pairing is abandoned all the same.
    if (appeared_)
        disappear();
}

SheetDialog *SD2ToolsView::sheet(PlayerModel &player, QWidget *window)
{
    auto *sheet = new SheetDialog(window);
    sheet->setWindowTitle(SD2ViewText::toolsTitle);
    auto *view = new SD2ToolsView(player, sheet);
    auto *layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    sheet->setFixedSize(fixedSize);
    view->dismiss = [sheet] { sheet->dismiss(); };
    sheet->setOnClose([view] { view->disappear(); });
    return sheet;
}

void SD2ToolsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!appeared_)
        appear();
}

void SD2ToolsView::appear()
{
    if (appeared_ || !player_)
        return;
    appeared_ = true;
    PlayerModel &player = *player_;
    player.pause();
    player.pairing().setMessage(QString());
    if (const auto track = player.selectedTrack()) {
        sourceID_ = track->id;
        if (const auto parameters = player.selectedRecoveryParameters()) {
            bits_ = parameters->sampleBytes * 8;
            rate_ = NumberText::wholeQ(parameters->sampleRate);
            channels_ = parameters->channels;
        }
        const QList<AudioTrack> mono = SD2ViewRules::monoTracks(player.tracks());
        const QList<AudioTrack> left = SD2ViewRules::leftTracks(mono);
        if (const auto named = player.namedLinkSelection()) {
            leftID_ = named->first.id;
            rightID_ = named->second.id;
        } else if (const auto partner = SD2PairModel::suggestedPartner(*track, mono)) {
            const auto name = SD2Identification::channelName(track->projectedURL());
            const bool selectedIsRight = name && name->channel == u"R";
            leftID_ = selectedIsRight ? partner->id : track->id;
            rightID_ = selectedIsRight ? track->id : partner->id;
        } else {
            leftID_ = findIn(left, track->id) ? std::optional(track->id) : std::nullopt;
            rightID_.reset();
        }
    }
    scheduler_->refreshNow();
}

void SD2ToolsView::disappear()
{
    if (disappeared_)
        return;
    disappeared_ = true;
    if (player_)
        player_->pairing().cancel();
}

void SD2ToolsView::closeSheet()
{
    if (dismiss)
        dismiss();
}

void SD2ToolsView::selectionChanged()
{
    if (appeared_ && !disappeared_ && player_ && player_->selectedID() != sourceID_)
        closeSheet();
}

void SD2ToolsView::chooseLeft(const QString &tag)
{
    leftID_ = idOf(tag);
    if (player_) {
        const QList<AudioTrack> mono = SD2ViewRules::monoTracks(player_->tracks());
        const QList<AudioTrack> right =
            SD2ViewRules::rightTracks(mono, findIn(SD2ViewRules::leftTracks(mono), leftID_));
        rightID_ = right.size() == 1 ? std::optional(right.first().id) : std::nullopt;
    }
    scheduler_->schedule();
}

void SD2ToolsView::prepareRecovery()
{
    const auto rate = SD2ViewRules::validRate(rate_);
    if (!player_ || !rate || player_->selectedID() != sourceID_)
        return;
    player_->recoverSelected(SD2Metadata{bits_ / 8, *rate, channels_, std::nullopt, std::nullopt});
    closeSheet();
}

void SD2ToolsView::createPair()
{
    if (!player_)
        return;
    const QList<AudioTrack> mono = SD2ViewRules::monoTracks(player_->tracks());
    const auto left = findIn(SD2ViewRules::leftTracks(mono), leftID_);
    const auto right = findIn(SD2ViewRules::rightTracks(mono, left), rightID_);
    if (left && right)
        player_->pairSD2(*left, *right);
}

void SD2ToolsView::refreshPickers(const QList<AudioTrack> &left, const QList<AudioTrack> &right)
{
    const auto update = [](TaggedComboBox *picker, const QList<AudioTrack> &tracks, QStringList &shown,
                           const std::optional<QUuid> &current) {
        QList<TaggedComboBox::Item> items{{QString(), SD2ViewText::chooseFile}};
        QStringList keys{SD2ViewText::chooseFile};
        for (const AudioTrack &track : tracks) {
            items.append({tagOf(track.id), track.displayName()});
            keys << items.last().tag << items.last().title;
        }
        if (keys != shown) {
            shown = keys;
            picker->setItems(items);
        }
        picker->setCurrentTag(tagOf(current));
    };
    update(leftPicker_, left, leftItems_, leftID_);
    update(rightPicker_, right, rightItems_, rightID_);
}

void SD2ToolsView::refresh()
{
    if (!player_)
        return;
    PlayerModel &player = *player_;
    const auto track = player.selectedTrack();
    const QList<AudioTrack> mono = SD2ViewRules::monoTracks(player.tracks());
    const QList<AudioTrack> leftTracks = SD2ViewRules::leftTracks(mono);
    const auto left = findIn(leftTracks, leftID_);
    const QList<AudioTrack> rightTracks = SD2ViewRules::rightTracks(mono, left);
    QList<QUuid> rightIDs;
    for (const AudioTrack &candidate : rightTracks)
        rightIDs.append(candidate.id);
    if (rightIDs != rightIDs_) {
        rightIDs_ = rightIDs;
        if (rightID_ && !rightIDs.contains(*rightID_))
            rightID_.reset();
    }
    const auto right = findIn(rightTracks, rightID_);

    selectedGroup_->setVisible(track.has_value());
    if (track) {
        updateText(trackName_, track->displayName());
        updateText(trackNote_, track->sd2MetadataNote.value_or(QString()));
        trackNote_->setVisible(track->sd2MetadataNote.has_value());
        const bool recovering = track->recovery.has_value();
        const bool linked = !recovering && track->pair;
        recoveryForm_->setVisible(recovering);
        pairSummary_->setVisible(linked);
        decoderNote_->setVisible(!recovering && !linked);
        if (recovering) {
            updateText(summary_, track->recovery->summary());
            bitsPicker_->setCurrentTag(NumberText::wholeQ(bits_));
            if (rateField_->text() != rate_)
                rateField_->setText(rate_);
            channelsPicker_->setCurrentTag(NumberText::wholeQ(channels_));
            volumeNote_->setVisible(bits_ != 16);
            prepare_->setEnabled(SD2ViewRules::validRate(rate_).has_value() && !player.recoveryStatus());
        }
        if (linked)
            updateText(pairText_, SD2ViewText::leftPrefix + track->pair->left().displayName() +
                                             u'\n' + SD2ViewText::rightPrefix +
                                             track->pair->right().displayName() + u'\n' +
                                             track->sourceFormat().summary());
    }

    pairingGroup_->setVisible(!(track && track->pair));
    refreshPickers(leftTracks, rightTracks);
    const auto issue = SD2ViewRules::pairIssue(left, right);
    updateText(issue_, issue.value_or(QString()));
    issue_->setVisible(issue.has_value());
    const SD2PairCoordinator &pairing = player.pairing();
    const bool preparing = pairing.isPreparing();
    pairingProgress_->setVisible(preparing);
    cancelPairing_->setVisible(preparing);
    createPair_->setVisible(!preparing);
    SD2Style::setProgress(pairingProgress_, pairing.progress());
    const auto &states = player.recoveryQueue().states();
    const bool busy = (leftID_ && states.contains(*leftID_)) || (rightID_ && states.contains(*rightID_));
    createPair_->setEnabled(!issue && !busy);
    updateText(message_, pairing.message());
    message_->setVisible(!pairing.message().isEmpty());
}

} // namespace tampod
