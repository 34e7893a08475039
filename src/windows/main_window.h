#pragma once

#include "views/kit/binding.h"
#include "views/kit/dialogs/sheet_dialog.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <optional>

namespace tampod {


// The main window: a fixed content size under the menu bar, dark, and a close button that
// asks whether to quit instead of closing. thread: main only.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // The design's window size; the title bar, 32 high there, lies outside our client area.
    static constexpr double designWidth = 607.2;
    static constexpr double designHeight = 679.8;
    static constexpr double titlebarHeight = 32;
    static QSize contentSize();

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The close button's action. The window itself never closes: the action decides.
    void setCloseRequestHandler(std::function<void()> handler) { closeRequested_ = std::move(handler); }
    // Shows the SD2 tools sheet while the flag is true; dismissing the sheet clears it.
    void bindAdvancedSD2(Binding<bool> showsAdvancedSD2);
    // Builds the SD2 tools sheet for the window; without one the sheet opens empty.
    using SheetFactory = std::function<SheetDialog *(QWidget *window)>;
    void setSD2ToolsFactory(SheetFactory factory) { sd2ToolsFactory_ = std::move(factory); }
    SheetDialog *sd2ToolsSheet() const { return sd2Tools_; }

    // Un-minimises the window and brings it to the front, activated.
    void bringForward();

Q_SIGNALS:
    // Once, when the window is first shown: from here on it can take documents.
    void windowReady(MainWindow *window);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void updateSD2Tools();

    std::function<void()> closeRequested_;
    std::optional<Binding<bool>> showsAdvancedSD2_;
    SheetFactory sd2ToolsFactory_;
    QPointer<SheetDialog> sd2Tools_;
    bool ready_ = false; // thread: main
};

} // namespace tampod
