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

// The dark palette of every window.
QPalette darkPalette();
// Fusion style with the dark palette, for the whole application.
void applyDarkAppearance(QApplication &application);

// SD2 recovery views: the yellow of an SD2 note, and the quick recovery buttons' outline and
// unselected label.
inline const QColor sd2Note = QColor::fromRgbF(1.0f, 0.839f, 0.039f);
inline const QColor sd2ButtonOutline = QColor::fromRgbF(0.45f, 0.45f, 0.45f);
inline const QColor sd2ButtonLabel = QColor::fromRgbF(0.65f, 0.65f, 0.65f);

} // namespace tampod::Theme
