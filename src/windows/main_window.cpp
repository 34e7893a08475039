#include "windows/main_window.h"

#include "windows/window_texts.h"

#include "views/kit/dialogs/sheet_dialog.h"
#include "views/kit/dialogs/sheet_host.h"
#include "views/kit/screen_fit.h"
#include "views/kit/theme.h"

#include <QCloseEvent>
#include <QLayout>

namespace tampod {

QSize MainWindow::contentSize()
{
    return QSize(qRound(designWidth), qRound(designHeight - titlebarHeight));
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(WindowText::mainTitle);
    setPalette(Theme::darkPalette());
    // The content comes with its own views; until then the window shows its background.
    auto *content = new QWidget(this);
    content->setAutoFillBackground(true);
    ScreenFit::scalesToFit(content, contentSize());
    setCentralWidget(content);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

MainWindow::~MainWindow() = default;

void MainWindow::bindAdvancedSD2(Binding<bool> showsAdvancedSD2)
{
    showsAdvancedSD2_ = std::move(showsAdvancedSD2);
    showsAdvancedSD2_->onChange(this, [this] { updateSD2Tools(); });
    updateSD2Tools();
}

void MainWindow::updateSD2Tools()
{
    const bool shown = showsAdvancedSD2_ && showsAdvancedSD2_->get();
    if (shown && !sd2Tools_) {
        SheetDialog *sheet = sd2ToolsFactory_ ? sd2ToolsFactory_(this) : nullptr;
        if (!sheet) {
            showsAdvancedSD2_->set(false);
            return;
        }
        // The sheet's own on-close action runs first; then the flag follows the sheet.
        connect(sheet, &SheetDialog::dismissed, this, [this] {
            sd2Tools_ = nullptr;
            if (showsAdvancedSD2_)
                showsAdvancedSD2_->set(false);
        });
        if (SheetHost::of(this).present(sheet))
            sd2Tools_ = sheet;
        else
            showsAdvancedSD2_->set(false); // another sheet is up: nothing was shown
    } else if (!shown && sd2Tools_) {
        sd2Tools_->dismiss();
    }
}

void MainWindow::bringForward()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    if (closeRequested_)
        closeRequested_();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!ready_) {
        ready_ = true;
        Q_EMIT windowReady(this);
    }
}

} // namespace tampod
