#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

// The type sizes and small widgets the SD2 views share, in pixels at the interface's one scale.
namespace tampod::SD2Style {

inline constexpr double title2 = 17;
inline constexpr double headline = 13;
inline constexpr double body = 13;
inline constexpr double callout = 12;
inline constexpr double caption = 10;

QFont font(double pixelSize, bool bold = false);
// A wrapping label of plain text (names come from files) in the given size, and colour when
// one is given.
QLabel *label(double pixelSize, const std::optional<QColor> &color, QWidget *parent, bool bold = false);
// A determinate bar over 0…1, in the accent colour, without a text.
QProgressBar *progressBar(QWidget *parent);
void setProgress(QProgressBar *bar, double progress);

} // namespace tampod::SD2Style
