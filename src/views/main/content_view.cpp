#include "views/main/content_view.h"

#include "views/kit/controls/hardware_button.h"
#include "views/kit/controls/hardware_slider.h"
#include "views/kit/controls/symbol_glyphs.h"
#include "views/kit/design_scale.h"
#include "views/kit/design_scale_layout.h"
#include "views/kit/dialogs/sheet_dialog.h"
#include "views/kit/dialogs/sheet_host.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/theme.h"
#include "views/export/batch_export_view.h"
#include "views/export/audio_export_view.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/main/main_view_texts.h"
#include "views/main/main_window_model.h"
#include "views/main/transport_view.h"
#include "views/main/wordmark_view.h"

#include "export/session/batch_export_session.h"
#include "export/session/export_session.h"
#include "core/outside_file_url.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>

namespace tampod {

namespace {

QList<QUrl> fileUrls(const QMimeData *data)
{
    QList<QUrl> files;
    if (data && data->hasUrls()) {
        for (const QUrl &url : data->urls())
            if (url.isLocalFile())
                files.append(QUrl::fromLocalFile(localPathOf(url))); // a name that is not UTF-8 keeps its bytes
    }
    return files;
}

HardwareButton *sidebarButton(QWidget *parent, const QRectF &frame, const QString &help, const QString &label)
{
    auto *button = new HardwareButton(frame.size(), parent);
    setPlainToolTip(button, help);
    button->setAccessibleName(label);
    return button;
}

} // namespace

ContentView::ContentView(MainWindowModel &player, std::function<void()> openSettings, QWidget *parent)
    : QWidget(parent)
    , player_(player)
    , wordmark_(new WordmarkView(this))
    , waveform_(new QWidget(this))
    , transport_(new TransportView(player, [this] { presentExport(); }, this))
    , library_(new QWidget(this))
    , scheduler_(new RefreshScheduler([this] { refresh(); }, this))
{
    // The parts below the top block (the library pane) take s from the content's width too.
    DesignScale::setDesignSize(this, topDesignSize);
    setAcceptDrops(true);
    // A click on the background takes the focus back from a control, to the window's keys.
    setFocusPolicy(Qt::ClickFocus);
    // It has the keyboard at launch: a named pane, not a filler a reader says nothing of.
    makeAccessibleContainer(this, QAccessible::Pane);
    setAccessibleName(MainViewText::playerPane);
    setAccessibleDescription(MainViewText::playerPaneHelp);

    settings_ = sidebarButton(this, settingsFrame, MainViewText::settingsHelp, MainViewText::settingsLabel);
    settings_->setGlyph(TransportGlyph::Symbol::mixer, 32);
    connect(settings_, &QAbstractButton::clicked, this, [openSettings = std::move(openSettings)] {
        if (openSettings)
            openSettings();
    });

    loop_ = sidebarButton(this, loopFrame, MainViewText::loopHelp, MainViewText::loopLabel);
    loop_->setGlyph(TransportGlyph::Symbol::repeatAudio, 39);
    loop_->setToggle(true);
    connect(loop_, &QAbstractButton::clicked, this, [this] { player_.toggleSectionLoop(); });

    zoom_ = new HardwareSlider(zoomFrame.size(), HardwareSlider::Handle::triangle, MainViewText::zoomLabel, this);
    setPlainToolTip(zoom_, MainViewText::zoomHelp);
    zoom_->setBinding(Binding<double>(
        [this] { return player_.zoomAmount(); },
        [this](const double &amount) {
            player_.setZoomAmount(amount, player_.loopSection().value_or(MainWindowModel::Span{0, 1}));
        },
        [this](QObject *context, std::function<void()> changed) {
            return connect(&player_, &MainWindowModel::changed, context, std::move(changed));
        }));

    clear_ = sidebarButton(this, clearFrame, MainViewText::clearHelp, MainViewText::clearLabel);
    // The symbol is set as text of 32 points would be: about 27 × 31 of the 60 × 44 label.
    clear_->setLabelPath(trashSymbol(QRectF(16.5, 6.5, 27, 31)));
    connect(clear_, &QAbstractButton::clicked, this, [this] { player_.clearAll(); });

    exportFactory_ = [this](QWidget *window) -> SheetDialog * {
        if (!player_.hasPrimaryExportTrack())
            return nullptr;
        // The sheet owns its session; closing it stops a preview and a run under way.
        std::unique_ptr<ExportSession> session = player_.openPrimaryExportSession();
        return session ? AudioExportView::make(std::move(session), window, vinyl_) : nullptr;
    };
    batchFactory_ = [this](QWidget *window) -> SheetDialog * {
        std::unique_ptr<BatchExportSession> session = player_.libraryExportSession();
        return session ? BatchExportView::make(std::move(session), window, vinyl_) : nullptr;
    };

    scheduler_->watch(&player_, &MainWindowModel::changed);
    refresh();
}

ContentView::~ContentView() = default;

double ContentView::scale() const
{
    return DesignScale::of(this);
}

int ContentView::topHeight() const
{
    return qRound(topDesignSize.height() * scale());
}

int ContentView::sidebarWidth() const
{
    return qRound(sidebarDesignWidth * scale());
}

QRect ContentView::libraryRect() const
{
    const int top = topHeight() + 1;
    const int left = sidebarWidth() + 1;
    return QRect(left, top, std::max(0, width() - left), std::max(0, height() - top));
}

QWidget *ContentView::replacePane(QWidget *old, QWidget *pane)
{
    pane->setParent(this);
    pane->stackUnder(transport_);
    delete old;
    pane->show();
    return pane;
}

void ContentView::setWaveformPane(QWidget *pane)
{
    waveform_ = replacePane(waveform_, pane);
    layoutParts();
}

void ContentView::setLibraryPane(QWidget *pane)
{
    library_ = replacePane(library_, pane);
    layoutParts();
}

void ContentView::setSD2RateButtons(QWidget *buttons)
{
    delete rateButtons_;
    rateButtons_ = buttons;
    if (buttons)
        buttons->setParent(this);
    refresh();
    layoutParts();
}

void ContentView::exportLibrary()
{
    presentBatch();
}

bool ContentView::presentExport()
{
    return present(exportFactory_, exportSheet_);
}

bool ContentView::presentBatch()
{
    return present(batchFactory_, batchSheet_);
}

bool ContentView::present(const SheetFactory &factory, QPointer<SheetDialog> &slot)
{
    SheetHost &host = SheetHost::of(this);
    if (!factory || host.current())
        return false;
    SheetDialog *sheet = factory(host.window());
    if (!host.present(sheet))
        return false;
    slot = sheet;
    return true;
}

void ContentView::refresh()
{
    const auto loop = player_.loopSection();
    loop_->setButtonStyle({.face = false, .active = loop.has_value(), .blueReady = false});
    // An existing loop can always be switched off.
    loop_->setEnabled(player_.canPlaySelection() || loop);
    setAccessibleValue(loop_, loop ? MainViewText::on : MainViewText::off);
    zoom_->setGreenHandle(loop.has_value());
    zoom_->setEnabled(loop.has_value());
    zoom_->refresh();
    clear_->setEnabled(!player_.libraryIsEmpty() || player_.pendingImports() >= 1);
    if (rateButtons_) {
        const bool shown = player_.selectedTrackHasRecovery();
        if (rateButtons_->isVisibleTo(this) != shown) {
            rateButtons_->setVisible(shown);
            layoutParts();
        }
    }
}

void ContentView::layoutParts()
{
    const double s = scale();
    wordmark_->setGeometry(DesignScaleLayout::scaled(wordmarkFrame, s));
    waveform_->setGeometry(DesignScaleLayout::scaled(waveformFrame, s));
    transport_->setGeometry(DesignScaleLayout::scaled(transportFrame, s));

    const QPoint below(0, topHeight() + 1);
    settings_->setGeometry(DesignScaleLayout::scaled(settingsFrame, s).translated(below));
    loop_->setGeometry(DesignScaleLayout::scaled(loopFrame, s).translated(below));
    zoom_->setGeometry(DesignScaleLayout::scaled(zoomFrame, s).translated(below));
    clear_->setGeometry(DesignScaleLayout::scaled(clearFrame, s).translated(below));
    if (rateButtons_) {
        const int top = qRound(rateButtonsTop * s);
        const int height = rateButtons_->hasHeightForWidth() ? rateButtons_->heightForWidth(sidebarWidth())
                                                             : rateButtons_->sizeHint().height();
        rateButtons_->setGeometry(QRect(0, top, sidebarWidth(), height).translated(below));
    }
    library_->setGeometry(libraryRect());
}

void ContentView::resizeEvent(QResizeEvent *)
{
    layoutParts();
}

void ContentView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Theme::background);
    // The two separators are one pixel whatever the scale.
    const int top = topHeight();
    painter.fillRect(QRect(0, top, width(), 1), Theme::border);
    painter.fillRect(QRect(sidebarWidth(), top + 1, 1, height() - top - 1), Theme::border);
}

void ContentView::dragEnterEvent(QDragEnterEvent *event)
{
    if (!fileUrls(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void ContentView::dropEvent(QDropEvent *event)
{
    const QList<QUrl> files = fileUrls(event->mimeData());
    if (files.isEmpty()) {
        event->ignore();
        return;
    }
    player_.importFiles(files);
    event->acceptProposedAction();
}

} // namespace tampod
