#include "views/export_form/vinyl_controls.h"

#include "export/treatments/vinyl_resources.h"
#include "views/export_form/export_form_texts.h"
#include "views/export_form/export_resolution_controls.h"
#include "views/export_form/form_text.h"
#include "views/kit/controls/hardware_slider.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/controls/transport_glyph.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/theme.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/kit/widget_setters.h"

#include <QCheckBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIconEngine>
#include <QLabel>
#include <QPainter>
#include <QRandomGenerator>
#include <QSignalBlocker>

#include <cmath>
#include <limits>

namespace tampod {

namespace T = ExportFormText;

namespace {

constexpr int symbolSize = 10;
// The level slider's design size, drawn at 0.55 of it.
constexpr QSizeF sliderDesignSize{222, 28};
constexpr QSizeF sliderSize{122.1, 15.4};
constexpr int levelTextWidth = 42;

// A play or stop symbol at any size and scale.
class SymbolIconEngine final : public QIconEngine {
public:
    explicit SymbolIconEngine(TransportGlyph::Symbol symbol)
        : symbol_(symbol)
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QColor colour = Theme::previewSymbol;
        if (mode == QIcon::Disabled)
            colour.setAlphaF(0.4f);
        painter->fillPath(TransportGlyph{symbol_}.path(QRectF(rect)), colour);
        painter->restore();
    }
    // The base class paints onto an uncleared pixmap.
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap image(size);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return image;
    }
    QIconEngine *clone() const override { return new SymbolIconEngine(symbol_); }

private:
    TransportGlyph::Symbol symbol_;
};

QIcon symbolIcon(TransportGlyph::Symbol symbol)
{
    return QIcon(new SymbolIconEngine(symbol));
}

QWidget *row(QWidget *parent, const QList<QWidget *> &widgets)
{
    auto *container = new QWidget(parent);
    auto *layout = new QHBoxLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget *widget : widgets) {
        widget->setParent(container);
        layout->addWidget(widget, 0, Qt::AlignVCenter);
    }
    layout->addStretch(1);
    return container;
}

} // namespace

LayerPreviewButton::LayerPreviewButton(const QString &title, QWidget *parent)
    : QPushButton(title, parent)
{
    setAutoDefault(false);
    setIconSize(QSize(symbolSize, symbolSize));
    setIcon(symbolIcon(TransportGlyph::Symbol::play));
}

void LayerPreviewButton::setActive(bool active)
{
    if (active_ == active)
        return;
    active_ = active;
    setIcon(symbolIcon(active ? TransportGlyph::Symbol::stop : TransportGlyph::Symbol::play));
}

VinylControls::VinylControls(ExportDraftBinding draft, VinylEnvironment environment, QFormLayout *form,
                             QWidget *host)
    : QObject(host)
    , draft_(std::move(draft))
    , environment_(std::move(environment))
    , form_(form)
    , host_(host)
    , preview_(environment_.makePreview ? environment_.makePreview() : new ExportPreviewCoordinator)
    , shown_(draft_.get())
    , scheduler_(new RefreshScheduler([this] { refresh(); }, this))
{
    preview_->setParent(this);

    texture_ = new QCheckBox(T::vinylTexture, host);
    texture_->setAccessibleName(T::vinylTexture);
    setPlainToolTip(texture_, T::vinylTextureHelp);
    form->addRow(texture_);

    sample_ = formPicker(T::vinylSounds, host);
    QList<TaggedComboBox::Item> samples;
    int digit = 1;
    for (const VinylSample sample : RawValue::allCases<VinylSample>())
        samples.append({RawValue::text(sample), T::vinylSample + QString::number(digit++)});
    sample_->setItems(samples);
    vinylPreview_ = new LayerPreviewButton(T::previewLayer + RawValue::text(ExportPreviewMode::vinyl), host);
    sampleRow_ = row(host, {sample_, vinylPreview_});
    form->addRow(T::vinylSounds, sampleRow_);

    levelRow(T::vinylLevel, &VinylOptions::amount, vinylLevel_, vinylLevelText_);

    hum_ = new QCheckBox(T::addHum, host);
    hum_->setAccessibleName(T::addHum);
    humPreview_ = new LayerPreviewButton(T::previewLayer + RawValue::text(ExportPreviewMode::hum), host);
    humRow_ = row(host, {hum_, humPreview_});
    form->addRow(humRow_);

    levelRow(T::humLevel, &VinylOptions::humAmount, humLevel_, humLevelText_);

    newPattern_ = new QPushButton(T::newPattern, host);
    newPattern_->setAutoDefault(false);
    newPattern_->setAccessibleName(T::newPattern);
    setPlainToolTip(newPattern_, T::newPatternHelp);
    form->addRow(row(host, {newPattern_}));

    message_ = FormText::label(QString(), TextStyle::caption, true, host);
    form->addRow(message_);

    // The state, not the click: a key or a screen reader's toggle changes it without a click.
    connect(texture_, &QCheckBox::toggled, this, [this](bool on) {
        ExportDraftEdit::edit(draft_, [&](ExportDefaults &d) { d.vinyl.enabled = on; });
    });
    connect(hum_, &QCheckBox::toggled, this, [this](bool on) {
        ExportDraftEdit::edit(draft_, [&](ExportDefaults &d) { d.vinyl.humEnabled = on; });
    });
    connect(sample_, &TaggedComboBox::tagChosen, this, [this](const QString &tag) {
        if (const auto sample = RawValue::parse<VinylSample>(tag))
            ExportDraftEdit::edit(draft_, [&](ExportDefaults &d) { d.vinyl.sample = *sample; });
    });
    connect(vinylPreview_, &QPushButton::clicked, this, [this] { press(ExportPreviewMode::vinyl); });
    connect(humPreview_, &QPushButton::clicked, this, [this] { press(ExportPreviewMode::hum); });
    connect(newPattern_, &QPushButton::clicked, this, [this] {
        ExportDraftEdit::edit(draft_, [](ExportDefaults &d) { d.vinyl.seed = newSeed(d.vinyl.seed); });
    });

    // The stop is direct: a change must silence the preview before anything else runs.
    draft_.onChange(this, [this] { draftChanged(); });
    host->installEventFilter(this);
    scheduler_->watch(preview_, &ExportPreviewCoordinator::phaseChanged);
    scheduler_->watch(preview_, &ExportPreviewCoordinator::modeChanged);
    scheduler_->watch(preview_, &ExportPreviewCoordinator::messageChanged);
    refresh();
}

VinylControls::~VinylControls()
{
    // The rows may already be gone: nothing may answer the coordinator's signals now.
    preview_->blockSignals(true);
    preview_->stop(QString());
}

void VinylControls::levelRow(const QString &title, std::int64_t VinylOptions::*level, HardwareSlider *&slider,
                             QLabel *&text)
{
    slider = new HardwareSlider(sliderDesignSize, HardwareSlider::Handle::bar, title, host_);
    slider->setFixedSize(qRound(sliderSize.width()), qRound(sliderSize.height()));
    const auto percent = [](double value) -> std::int64_t {
        return std::isfinite(value) ? std::llround(value * 100) : 0;
    };
    slider->setBinding(Binding<double>(
        [this, level] { return double(draft_.get().vinyl.*level) / 100.0; },
        [this, level, percent](const double &value) {
            ExportDraftEdit::edit(draft_, [&](ExportDefaults &d) { d.vinyl.*level = percent(value); });
        },
        [this](QObject *context, std::function<void()> changed) {
            return draft_.onChange(context, std::move(changed));
        }));
    // Kept even when the form's draft is thrown away; stored once a change is finished, since
    // each store writes the settings file.
    connect(slider, &HardwareSlider::valueCommitted, this, [this, level, percent](double value) {
        if (environment_.preferences && !environment_.preferences->rememberLevel(percent(value), level) &&
            environment_.levelNotSaved)
            environment_.levelNotSaved();
    });
    text = new QLabel(host_);
    text->setTextFormat(Qt::PlainText);
    text->setFixedWidth(levelTextWidth);
    text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form_->addRow(title, row(host_, {slider, text}));
}

LayerPreviewButton *VinylControls::previewButton(ExportPreviewMode mode) const
{
    return mode == ExportPreviewMode::hum ? humPreview_ : vinylPreview_;
}

bool VinylControls::isRowShown(QWidget *widget) const
{
    for (QWidget *at = widget; at; at = at->parentWidget()) {
        if (form_->indexOf(at) >= 0)
            return form_->isRowVisible(at);
    }
    return false;
}

std::uint64_t VinylControls::newSeed(std::uint64_t seed)
{
    // r uniform in 0 ... 2^64 − 2, so the step r + 1 is never a whole turn. Drawn by rejection:
    // the generator's bounded() shifts by 64 bits for this bound, which is undefined.
    std::uint64_t r = 0;
    do
        r = QRandomGenerator::system()->generate64();
    while (r == std::numeric_limits<std::uint64_t>::max());
    return seed + r + 1;
}

bool VinylControls::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == host_ && event->type() == QEvent::EnabledChange && !host_->isEnabled())
        preview_->stop(QString());
    return QObject::eventFilter(watched, event);
}

void VinylControls::draftChanged()
{
    const ExportDefaults draft = draft_.get();
    if (draft == shown_)
        return;
    shown_ = draft;
    preview_->stop(QString());
    scheduler_->schedule();
}

bool VinylControls::isActive(ExportPreviewMode mode) const
{
    return preview_->phase() != ExportPreviewCoordinator::Phase::idle && preview_->mode() == mode;
}

void VinylControls::press(ExportPreviewMode mode)
{
    // Decided at the press: the preview may have ended since the last refresh.
    if (isActive(mode))
        preview_->stop(QString());
    else
        startPreview(mode);
    scheduler_->refreshNow();
}

void VinylControls::startPreview(ExportPreviewMode mode)
{
    const ExportDefaults settings = draft_.get();
    const QString name = mode == ExportPreviewMode::hum ? T::humResource : RawValue::text(settings.vinyl.sample);
    // A missing recording still makes a record: the coordinator reports the failure.
    const QString path = environment_.resourcePath ? environment_.resourcePath(name) : VinylResources::path(name);
    const QUrl url = QUrl::fromLocalFile(path);

    ExportPreviewRequest request;
    request.track.id = QUuid::createUuid();
    request.track._url = TrackedFileURL(url);
    request.track.duration = 60.0;
    request.track.access = std::make_shared<const FileAccessLease>(url);
    request.settings = settings;
    request.mode = mode;
    request.pairOutput = SD2PairOutput::stereo;
    preview_->start(request, environment_.pauseMainPlayback);
}

void VinylControls::refresh()
{
    const ExportDefaults draft = draft_.get();
    const VinylOptions &vinyl = draft.vinyl;

    if (texture_->isChecked() != vinyl.enabled) {
        const QSignalBlocker blocker(texture_);
        texture_->setChecked(vinyl.enabled);
    }
    // An enabled treatment can always be switched off.
    texture_->setEnabled(draft.supportsClipping() || vinyl.enabled);

    form_->setRowVisible(sampleRow_, vinyl.enabled);
    sample_->setCurrentTag(RawValue::text(vinyl.sample));
    form_->setRowVisible(vinylLevel_->parentWidget(), vinyl.enabled);
    vinylLevel_->refresh();
    updateText(vinylLevelText_, QString::number(vinyl.amount) + QStringLiteral("%"));
    form_->setRowVisible(humRow_, vinyl.enabled);
    if (hum_->isChecked() != vinyl.humEnabled) {
        const QSignalBlocker blocker(hum_);
        hum_->setChecked(vinyl.humEnabled);
    }
    form_->setRowVisible(humLevel_->parentWidget(), vinyl.enabled && vinyl.humEnabled);
    humLevel_->refresh();
    updateText(humLevelText_, QString::number(vinyl.humAmount) + QStringLiteral("%"));
    form_->setRowVisible(newPattern_->parentWidget(), vinyl.enabled);

    for (const ExportPreviewMode mode : {ExportPreviewMode::vinyl, ExportPreviewMode::hum}) {
        LayerPreviewButton *button = previewButton(mode);
        const bool active = isActive(mode);
        const QString title = RawValue::text(mode);
        button->setActive(active);
        button->setAccessibleName(active ? T::stopLayerPreview + title : T::previewLayer + title);
        setPlainToolTip(button, active ? T::stopLayerHelp : T::layerHelp);
    }
    humPreview_->setEnabled(vinyl.humEnabled);

    const QString &message = preview_->message();
    updateText(message_, message);
    form_->setRowVisible(message_, vinyl.enabled && !message.isEmpty());
}

} // namespace tampod
