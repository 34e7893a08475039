#include "views/sd2/sd2_recovery_status.h"

#include "views/sd2/internal/sd2_styles.h"
#include "views/sd2/sd2_view_rules.h"
#include "views/sd2/sd2_view_texts.h"

#include "views/kit/controls/middle_elided_label.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/theme.h"
#include "views/kit/widget_setters.h"

#include "player/player_model.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tampod {

namespace {

constexpr int padding = 8;
constexpr int spacing = 5;

// A progress bar over a row of its text and a Cancel button. The text keeps to one line,
// shortened in the middle when it must be, so that its percentage stays in view.
QWidget *progressLine(QWidget *parent, QProgressBar *&bar, MiddleElidedLabel *&text, QPushButton *&cancel)
{
    auto *line = new QWidget(parent);
    auto *column = new QVBoxLayout(line);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);
    bar = SD2Style::progressBar(line);
    column->addWidget(bar);
    auto *row = new QHBoxLayout;
    text = new MiddleElidedLabel(line);
    text->setFont(SD2Style::font(SD2Style::caption));
    row->addWidget(text, 1, Qt::AlignVCenter);
    cancel = plainButton(SD2ViewText::cancel, line);
    cancel->setFont(SD2Style::font(SD2Style::caption));
    row->addWidget(cancel, 0, Qt::AlignVCenter);
    column->addLayout(row);
    return line;
}

} // namespace

SD2RecoveryStatus::SD2RecoveryStatus(PlayerModel &player, QWidget *parent)
    : QWidget(parent)
    , player_(player)
    , scheduler_(new RefreshScheduler([this] { refresh(); }, this))
{
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    note_ = SD2Style::label(SD2Style::caption, Theme::sd2Note, this);
    note_->setContentsMargins(padding, padding, padding, padding);
    stack->addWidget(note_);

    panel_ = new QWidget(this);
    fillBackground(panel_, Theme::panel);
    auto *panelStack = new QVBoxLayout(panel_);
    panelStack->setContentsMargins(padding, padding, padding, padding);
    panelStack->setSpacing(spacing);
    summary_ = SD2Style::label(SD2Style::caption, std::nullopt, panel_);
    panelStack->addWidget(summary_);
    hint_ = SD2Style::label(SD2Style::caption, Theme::secondaryText, panel_);
    panelStack->addWidget(hint_);
    progressLine_ = progressLine(panel_, progress_, progressText_, cancel_);
    panelStack->addWidget(progressLine_);
    stack->addWidget(panel_);

    background_ = new QWidget(this);
    auto *backgroundStack = new QVBoxLayout(background_);
    backgroundStack->setContentsMargins(padding, padding, padding, padding);
    backgroundStack->setSpacing(spacing);
    backgroundStack->addWidget(progressLine(background_, backgroundProgress_, backgroundText_, backgroundCancel_));
    stack->addWidget(background_);

    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (const auto &id = player_.selectedID())
            player_.recoveryQueue().cancel(*id, false);
    });
    connect(backgroundCancel_, &QPushButton::clicked, this, [this] {
        if (const auto status = player_.backgroundRecovery())
            player_.recoveryQueue().cancel(status->id, false);
    });

    scheduler_->watch(&player_, &PlayerModel::selectedIDChanged);
    scheduler_->watch(&player_, &PlayerModel::tracksChanged);
    scheduler_->watch(&player_.recoveryQueue(), &SD2RecoveryQueue::statesChanged);
    scheduler_->watch(&player_.recoveryQueue(), &SD2RecoveryQueue::activeIDChanged);
    refresh();
}

void SD2RecoveryStatus::refresh()
{
    const auto track = player_.selectedTrack();
    const auto note = track ? track->sd2MetadataNote : std::nullopt;
    updateText(note_, note.value_or(QString()));
    note_->setVisible(note.has_value());

    const bool hasRecovery = track && track->recovery;
    panel_->setVisible(hasRecovery);
    if (hasRecovery) {
        updateText(summary_, track->recovery->summary());
        const auto status = player_.recoveryStatus();
        hint_->setVisible(!status);
        progressLine_->setVisible(status.has_value());
        if (status) {
            SD2Style::setProgress(progress_, status->progress);
            progressText_->setFullText(
                SD2ViewRules::selectedProgressText(*status, player_.selectedRecoveryParameters()));
        } else {
            updateText(hint_, SD2ViewRules::recoveryHint(*track->recovery));
        }
    }

    const auto other = player_.backgroundRecovery();
    background_->setVisible(other.has_value());
    if (other) {
        SD2Style::setProgress(backgroundProgress_, other->progress);
        backgroundText_->setFullText(SD2ViewRules::backgroundProgressText(*other));
    }
}

} // namespace tampod
