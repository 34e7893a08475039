#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace tampod {

// The text styles of the export forms and sheets, in pixels.
enum class TextStyle { title2, headline, body, callout, caption };

namespace FormText {

void apply(QWidget *widget, TextStyle style, bool secondary = false);
// A wrapping plain-text label: file names and messages are never read as markup.
QLabel *label(const QString &text, TextStyle style, bool secondary = false, QWidget *parent = nullptr);

} // namespace FormText

} // namespace tampod
