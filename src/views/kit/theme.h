#pragma once

#include <QColor>
#include <QPalette>

class QApplication;

namespace tampod::Theme {

// Fixed sRGB colours: the interface never follows a desktop colour scheme.
inline const QColor accent = QColor::fromRgbF(0.48f, 0.94f, 0.02f);
inline const QColor background = QColor::fromRgbF(0.115f, 0.115f, 0.115f);
inline const QColor panel = QColor::fromRgbF(0.105f, 0.105f, 0.105f);
inline const QColor border = QColor::fromRgbF(0.21f, 0.21f, 0.21f);
// Secondary (dimmed) text on the dark background.
inline const QColor secondaryText = QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.55f);
// The caution sign of alerts.
inline const QColor caution = QColor::fromRgbF(1.0f, 0.8f, 0.0f);

// The system colours of the dark appearance; blue is (10, 132, 255) in 8 bits.
inline const QColor systemBlue = QColor::fromRgbF(0.039f, 0.518f, 1.0f);
inline const QColor systemRed = QColor::fromRgb(255, 69, 58);
inline const QColor systemYellow = QColor::fromRgbF(1.0f, 0.839f, 0.039f);
// Texts, labels and focus strokes on dark plates and the blue face.
inline const QColor brightText = QColor(Qt::white);

// Hardware controls: the greys of labels, raised faces, grooves and knobs.
inline const QColor controlLabel = QColor::fromRgbF(0.82f, 0.82f, 0.82f);
inline const QColor disabledControlLabel = QColor::fromRgbF(0.65f, 0.65f, 0.65f);
inline const QColor faceLabel = QColor::fromRgbF(0.1f, 0.1f, 0.1f);
inline const QColor face = QColor::fromRgbF(0.48f, 0.48f, 0.48f);
inline const QColor pressedFace = QColor::fromRgbF(0.55f, 0.55f, 0.55f);
inline const QColor sliderGroove = QColor::fromRgbF(0.28f, 0.28f, 0.28f);
inline const QColor sliderKnob = QColor::fromRgbF(0.53f, 0.53f, 0.53f);

// The transport bar: the time display's window, the button row's frame, the digits while
// stopped, and the meter's lamps after the green ones.
inline const QColor timeWindow = QColor::fromRgbF(0.065f, 0.065f, 0.065f);
inline const QColor buttonRowFrame = QColor::fromRgbF(0.46f, 0.46f, 0.46f);
inline const QColor stoppedDigits = QColor::fromRgbF(1.0f, 0.06f, 0.08f);
inline const QColor meterYellow = systemYellow;
inline const QColor meterOrange = QColor::fromRgbF(1.0f, 0.68f, 0.0f);
inline const QColor meterRed = QColor::fromRgbF(1.0f, 0.3f, 0.0f);

// The word mark: its zigzag strokes, a darker green than the letters, and the opaque shape
// its glow is blurred from before being tinted.
inline const QColor wordmarkStrokes = QColor::fromRgbF(0.36f, 0.72f, 0.0f);
inline const QColor glowShape = QColor(Qt::black);

// The waveform pane: the envelope's fill and outline (the outline's opacity is the
// envelope's), the plates under texts, the section loop's header button and progress track,
// and the shadow around its handles.
inline const QColor envelopeFill = QColor::fromRgbF(0.5f, 0.5f, 0.5f);
inline const QColor envelopeOutline = QColor(Qt::white);
inline const QColor hintPlate = QColor::fromRgbF(0, 0, 0, 0.75f);
inline const QColor lanePlate = QColor::fromRgbF(0, 0, 0, 0.65f);
inline const QColor headerPlate = QColor::fromRgbF(0, 0, 0, 0.8f);
inline const QColor headerButton = QColor::fromRgbF(1, 1, 1, 0.26f);
inline const QColor pressedHeaderButton = QColor::fromRgbF(1, 1, 1, 0.16f);
inline const QColor progressTrack = QColor::fromRgbF(1, 1, 1, 0.2f);
inline const QColor handleShadow = QColor::fromRgbF(0, 0, 0, 0.5f);

// The dark palette of every window.
QPalette darkPalette();
// Fusion style with the dark palette, for the whole application.
void applyDarkAppearance(QApplication &application);

// The library pane (greys are white levels, opaque).
inline const QColor libraryText = QColor::fromRgbF(0.85f, 0.85f, 0.85f);
inline const QColor libraryUnchecked = QColor::fromRgbF(0.7f, 0.7f, 0.7f);
inline const QColor libraryHeaderText = QColor::fromRgbF(0.7f, 0.7f, 0.7f);
inline const QColor libraryHeaderTop = QColor::fromRgbF(0.155f, 0.155f, 0.155f);
inline const QColor libraryHint = QColor::fromRgbF(0.55f, 0.55f, 0.55f);
inline const QColor libraryGetFace = QColor::fromRgbF(0.0f, 0.0f, 0.0f);
inline const QColor libraryGetBorder = QColor::fromRgbF(0.45f, 0.45f, 0.45f);
inline const QColor libraryGetTitle = QColor::fromRgbF(1.0f, 1.0f, 1.0f);

// SD2 recovery views: the yellow of an SD2 note, and the quick recovery buttons' outline and
// unselected label.
inline const QColor sd2Note = QColor::fromRgbF(1.0f, 0.839f, 0.039f);
inline const QColor sd2ButtonOutline = QColor::fromRgbF(0.45f, 0.45f, 0.45f);
inline const QColor sd2ButtonLabel = QColor::fromRgbF(0.65f, 0.65f, 0.65f);

// The export sheets: blocking issues, the selected quick choice's tint and the preview
// buttons' symbols.
inline const QColor issueText = systemYellow;
// The accent at 22 % over the button face, made opaque: the style paints a button colour's
// alpha away, which left the accent label on a full accent face.
inline const QColor selectedChoiceTint = QColor::fromRgbF(0.31f, 0.41f, 0.21f);
inline const QColor previewSymbol = QColor(Qt::white);
// The batch sheet's list: a failed file's state and the lines between files.
inline const QColor failedItemText = systemYellow;
inline const QColor itemSeparator = QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.1f);

// The manual: a note's plate and a figure's card are the dark appearance's fourth-level
// label white (10 %) at 0.35 and 0.3 of its opacity; the line under the back bar.
inline const QColor manualNote = QColor::fromRgbF(1, 1, 1, 0.035f);
inline const QColor manualFigureCard = QColor::fromRgbF(1, 1, 1, 0.03f);
inline const QColor manualDivider = border;

} // namespace tampod::Theme
