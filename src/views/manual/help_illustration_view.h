#pragma once

#include "views/manual/manual_widgets.h"

#include "views/kit/dialogs/sheet_dialog.h"

#include "help/help_illustration.h"

#include <QAbstractButton>
#include <QPointer>

class QPushButton;
class QScrollArea;

namespace tampod {

// The figures are PNG resources named by their records: :/manual/figures/<resourceName>.png.
inline const QString figureResourceFolder = QStringLiteral(":/manual/figures");

// The figure's image from folder, or a null image when it is missing, unreadable or larger than
// a window screenshot could be. Main thread only: the reader's allocation limit is process-wide.
QImage loadFigureImage(const QString &folder, const QString &resourceName);

class HelpFigureSheet;

// A figure as a card: title, the image (a button that enlarges it) and "Enlarge image…", then
// the caption. Without a loadable image the card shows only title and caption.
class HelpIllustrationView : public RoundedPlate {
    Q_OBJECT

public:
    HelpIllustrationView(HelpIllustration figure, QString imageFolder, QWidget *parent = nullptr);

    const HelpIllustration &figure() const { return figure_; }
    // Null without an image.
    QAbstractButton *imageButton() const { return imageButton_; }
    QPushButton *enlargeButton() const { return enlargeButton_; }

    // Shows the figure enlarged in a sheet over the window.
    void enlarge();
    // The open sheet, while the figure is enlarged.
    HelpFigureSheet *sheet() const;

private:
    HelpIllustration figure_;
    QString imageFolder_;
    QAbstractButton *imageButton_ = nullptr;
    QPushButton *enlargeButton_ = nullptr;
    QPointer<HelpFigureSheet> sheet_;
};

// The enlarged figure: title and "Done" (Escape), the image at one image pixel per pixel in a
// scroll area, and the caption. It loads its own copy of the image.
class HelpFigureSheet : public SheetDialog {
    Q_OBJECT

public:
    HelpFigureSheet(const HelpIllustration &figure, const QString &imageFolder, QWidget *window);

    QPushButton *doneButton() const { return done_; }
    // Null without an image.
    QScrollArea *imageArea() const { return imageArea_; }

private:
    QPushButton *done_;
    QScrollArea *imageArea_ = nullptr;
};

} // namespace tampod
