#pragma once

#include "views/export_form/vinyl_controls.h"

#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

#include <functional>

namespace tampod {

class HardwareButton;
class HardwareSlider;
class MainWindowModel;
class RefreshScheduler;
class SheetDialog;
class TransportView;
class WordmarkView;

// The main window's content: the hardware top block (word mark, waveform, transport) drawn in
// a 1104 × 435 design space and scaled by s = width / 1104, a 1-pixel line, and below it the
// sidebar (settings, loop, zoom, clear, the SD2 rate buttons) beside the library, with
// 1-pixel lines whatever the scale. It hosts the export sheets and takes dropped files.
// thread: main.
class ContentView : public QWidget {
    Q_OBJECT

public:
    static constexpr double designWidth = 1104;
    static constexpr QSizeF topDesignSize{1104, 435};
    static constexpr QRectF wordmarkFrame{(1104 - 435) / 2.0, (103 - 52) / 2.0, 435, 52};
    static constexpr QRectF waveformFrame{64, 103, 978, 220};
    static constexpr QRectF transportFrame{0, 323, 1104, 112};
    static constexpr double sidebarDesignWidth = 107;
    // Sidebar places, below the line, in design units.
    static constexpr QRectF settingsFrame{23.5, 19, 60, 44};
    static constexpr QRectF loopFrame{23.5, 80, 60, 44};
    static constexpr QRectF zoomFrame{14.5, 141, 78, 28};
    static constexpr QRectF clearFrame{23.5, 186, 60, 44};
    static constexpr double rateButtonsTop = 247;

    // openSettings opens the settings window.
    ContentView(MainWindowModel &player, std::function<void()> openSettings, QWidget *parent = nullptr);
    ~ContentView() override;

    double scale() const;
    // Pixel rectangles of the parts, for the current size.
    int topHeight() const;
    int sidebarWidth() const;
    QRect libraryRect() const;

    // The panes that come with their own views; until then the places stay empty.
    void setWaveformPane(QWidget *pane);
    void setLibraryPane(QWidget *pane);
    // The SD2 rate buttons, shown while the selected track waits for or holds an SD2 recovery.
    void setSD2RateButtons(QWidget *buttons);

    // The library's batch export action.
    void exportLibrary();

    void refresh();

    TransportView *transport() const { return transport_; }
    WordmarkView *wordmark() const { return wordmark_; }
    QWidget *waveformPane() const { return waveform_; }
    QWidget *libraryPane() const { return library_; }
    HardwareButton *settingsButton() const { return settings_; }
    HardwareButton *loopButton() const { return loop_; }
    HardwareSlider *zoomSlider() const { return zoom_; }
    HardwareButton *clearButton() const { return clear_; }

    // The export sheets, shown through the window's sheet host. A factory builds a sheet for
    // the current state or gives none when there is nothing to show.
    using SheetFactory = std::function<SheetDialog *(QWidget *window)>;
    void setExportSheetFactory(SheetFactory factory) { exportFactory_ = std::move(factory); }
    void setBatchSheetFactory(SheetFactory factory) { batchFactory_ = std::move(factory); }
    // What the export sheet's Vinyl rows take from the application.
    void setVinylEnvironment(VinylEnvironment environment) { vinyl_ = std::move(environment); }
    // Builds and shows the sheet; false when the factory gave none or another sheet is up.
    bool presentExport();
    bool presentBatch();
    SheetDialog *exportSheet() const { return exportSheet_; }
    SheetDialog *batchSheet() const { return batchSheet_; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void layoutParts();
    QWidget *replacePane(QWidget *old, QWidget *pane);
    bool present(const SheetFactory &factory, QPointer<SheetDialog> &slot);

    MainWindowModel &player_;
    WordmarkView *wordmark_;
    QWidget *waveform_;
    TransportView *transport_;
    HardwareButton *settings_;
    HardwareButton *loop_;
    HardwareSlider *zoom_;
    HardwareButton *clear_;
    QPointer<QWidget> rateButtons_;
    QWidget *library_;
    SheetFactory exportFactory_;
    SheetFactory batchFactory_;
    VinylEnvironment vinyl_;
    QPointer<SheetDialog> exportSheet_;
    QPointer<SheetDialog> batchSheet_;
    RefreshScheduler *scheduler_;
};

} // namespace tampod
