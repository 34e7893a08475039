#pragma once

#include <QDialog>
#include <QPoint>
#include <QPointer>

#include <functional>

class QScreen;

namespace tampod {

class FramePlacement;
class SheetHost;

// A sheet: a window-modal dialog centred on its window, shown without a nested event loop,
// one at a time on each window (its window's SheetHost keeps count), and never taller than its
// screen has room for (its subclass's form scrolls then). Escape, the close button and
// dismiss() all end it through the same on-close action, run exactly once; while
// refusesClose() answers true it stays open. thread: main.
class SheetDialog : public QDialog {
    Q_OBJECT

public:
    explicit SheetDialog(QWidget *window);
    ~SheetDialog() override;

    void setOnClose(std::function<void()> onClose) { onClose_ = std::move(onClose); }
    void setRefusesClose(std::function<bool()> refusesClose) { refusesClose_ = std::move(refusesClose); }

    // Shows the sheet; false (and nothing shown) while another sheet of its window is up.
    bool present();
    // Ends the sheet as the user would; false when it refused.
    bool dismiss();
    // Its fit and place on the screen, kept up with its frame: tells when the sheet rests placed.
    const FramePlacement &placement() const { return *placement_; }

Q_SIGNALS:
    // After the on-close action, once the sheet is gone.
    void dismissed();

protected:
    void reject() override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // Fits the sheet to its window's screen and centres it on its window.
    void fitAndCentre();
    // Fits the sheet to screen and centres it on centre, wholly on the screen where it fits.
    void fitOn(const QScreen *screen, QPoint centre);

    std::function<void()> onClose_;
    std::function<bool()> refusesClose_;
    bool closed_ = false; // thread: main
    QPointer<SheetHost> host_;
    FramePlacement *placement_;
};

} // namespace tampod
