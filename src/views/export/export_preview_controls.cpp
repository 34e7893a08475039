#include "views/export/export_preview_controls.h"

#include "export/session/export_session.h"
#include "views/export/export_sheet_texts.h"
#include "views/export_form/form_text.h"
#include "views/kit/controls/transport_glyph.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTimer>
#include <QVBoxLayout>

namespace tampod {

namespace T = ExportSheetText;

namespace {

constexpr int symbolSize = 10;
constexpr int symbolGap = 6;

// A small spinning arc, turning only while it is shown.
class PreparingIndicator final : public QWidget {
public:
    explicit PreparingIndicator(QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(16, 16);
        setAccessibleName(T::preparingPreview);
        timer_.setInterval(50);
        connect(&timer_, &QTimer::timeout, this, [this] {
            angle_ = (angle_ + 30) % 360;
            update();
        });
    }

protected:
    void showEvent(QShowEvent *) override { timer_.start(); }
    void hideEvent(QHideEvent *) override { timer_.stop(); }
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(palette().color(QPalette::WindowText), 2, Qt::SolidLine, Qt::RoundCap);
        painter.setPen(pen);
        painter.drawArc(QRectF(2, 2, 12, 12), -angle_ * 16, 270 * 16);
    }

private:
    QTimer timer_;
    int angle_ = 0;
};

QString lowerTitle(ExportPreviewMode mode)
{
    return RawValue::text(mode).toLower();
}

} // namespace

PreviewModeButton::PreviewModeButton(const QString &title, QWidget *parent)
    : QPushButton(title, parent)
{
    setAutoDefault(false);
}

void PreviewModeButton::setPlaying(bool playing)
{
    if (playing_ == playing)
        return;
    playing_ = playing;
    update();
}

QSize PreviewModeButton::sizeHint() const
{
    const QSize text = QPushButton::sizeHint();
    return {text.width() + symbolSize + symbolGap, text.height()};
}

void PreviewModeButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString title = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);

    const int textWidth = fontMetrics().horizontalAdvance(title);
    const int left = (width() - textWidth - symbolSize - symbolGap) / 2;
    const QRectF symbol(left, (height() - symbolSize) / 2.0, symbolSize, symbolSize);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor colour = Theme::previewSymbol;
    if (!isEnabled())
        colour.setAlphaF(0.4f);
    const auto glyph = playing_ ? TransportGlyph::Symbol::stop : TransportGlyph::Symbol::play;
    painter.fillPath(TransportGlyph{glyph}.path(symbol), colour);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(QRect(left + symbolSize + symbolGap, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft,
                     title);
}

ExportPreviewControls::ExportPreviewControls(ExportSession &session, QWidget *parent)
    : QWidget(parent)
    , session_(session)
    , scheduler_(new RefreshScheduler([this] { refresh(); }, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(FormText::label(T::auditionHeading, TextStyle::headline, false, this));

    auto *row = new QHBoxLayout;
    original_ = new PreviewModeButton(RawValue::text(ExportPreviewMode::original), this);
    processed_ = new PreviewModeButton(RawValue::text(ExportPreviewMode::processed), this);
    row->addWidget(original_);
    row->addWidget(processed_);
    auto *box = new QWidget(this);
    box->setFixedSize(16, 16);
    indicator_ = new PreparingIndicator(box);
    indicator_->setVisible(false);
    row->addWidget(box);
    row->addStretch(1);
    layout->addLayout(row);

    advisory_ = FormText::label(QString(), TextStyle::caption, true, this);
    layout->addWidget(advisory_);
    status_ = FormText::label(QString(), TextStyle::callout, false, this);
    layout->addWidget(status_);
    layout->addWidget(FormText::label(T::auditionModesNote, TextStyle::caption, true, this));
    layout->addWidget(FormText::label(T::auditionPlayerNote, TextStyle::caption, true, this));

    connect(original_, &QPushButton::clicked, this, [this] { press(ExportPreviewMode::original); });
    connect(processed_, &QPushButton::clicked, this, [this] { press(ExportPreviewMode::processed); });

    ExportPreviewCoordinator *preview = &session_.preview();
    scheduler_->watch(preview, &ExportPreviewCoordinator::phaseChanged);
    scheduler_->watch(preview, &ExportPreviewCoordinator::modeChanged);
    scheduler_->watch(preview, &ExportPreviewCoordinator::messageChanged);
    ExportPreviewEligibility *eligibility = &session_.previewEligibility();
    scheduler_->watch(eligibility, &ExportPreviewEligibility::sourceChanged);
    scheduler_->watch(eligibility, &ExportPreviewEligibility::isCheckingChanged);
    for (auto signal : {&ExportSession::draftChanged, &ExportSession::exportsLoopChanged,
                        &ExportSession::repeatTextChanged, &ExportSession::pairOutputChanged,
                        &ExportSession::pairBaseNameChanged, &ExportSession::isChoosingDestinationChanged,
                        &ExportSession::isExportingChanged, &ExportSession::isRestoringAccessChanged,
                        &ExportSession::resultChanged})
        scheduler_->watch(&session_, signal);
    refresh();
}

PreviewModeButton *ExportPreviewControls::button(ExportPreviewMode mode) const
{
    return mode == ExportPreviewMode::original ? original_ : processed_;
}

void ExportPreviewControls::press(ExportPreviewMode mode)
{
    // Decided at the press: the preview may have ended since the last refresh.
    if (session_.isPreviewActive(mode))
        session_.preview().stop(T::previewStopped);
    else
        session_.startPreview(mode);
    scheduler_->refreshNow();
}

void ExportPreviewControls::refresh()
{
    const auto reason = session_.previewUnavailableReason();
    const bool preparing = session_.preview().phase() == ExportPreviewCoordinator::Phase::preparing;
    for (const ExportPreviewMode mode : {ExportPreviewMode::original, ExportPreviewMode::processed}) {
        PreviewModeButton *modeButton = button(mode);
        const bool active = session_.isPreviewActive(mode);
        modeButton->setPlaying(active);
        modeButton->setAccessibleName(active ? (preparing ? T::cancelPreview : T::stopPreview) + RawValue::text(mode)
                                             : T::playPreview.arg(lowerTitle(mode)));
        modeButton->setToolTip(active ? T::stopHelp : T::loopHelp.arg(lowerTitle(mode)));
        modeButton->setEnabled(active || !reason);
    }
    indicator_->setVisible(preparing);

    const auto advisory = session_.previewAdvisory();
    advisory_->setVisible(advisory.has_value());
    if (advisory && advisory_->text() != *advisory)
        advisory_->setText(*advisory);

    const QString status = reason ? *reason : session_.preview().message();
    QPalette palette = status_->palette();
    palette.setColor(QPalette::WindowText,
                     reason ? Theme::secondaryText : this->palette().color(QPalette::WindowText));
    status_->setPalette(palette);
    if (status_->text() != status)
        status_->setText(status);
    status_->setVisible(!status.isEmpty());
}

} // namespace tampod
