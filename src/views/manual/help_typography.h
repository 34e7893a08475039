#pragma once

#include <QFont>
#include <QLabel>
#include <QString>

namespace tampod {

// The manual's three text styles, in pixels of the design: title 30 semibold, heading 18
// semibold, body 16 regular. Each is made once.
namespace HelpTypography {
const QFont &title();
const QFont &heading();
const QFont &body();
} // namespace HelpTypography

// Selectable, word-wrapped body text with the manual's 4-pixel line spacing. Qt gives line
// spacing only to rich text, so text() is markup; plainText() is what the reader sees.
class SelectableText : public QLabel {
    Q_OBJECT

public:
    explicit SelectableText(const QString &text, QWidget *parent = nullptr);
    const QString &plainText() const { return plainText_; }

private:
    QString plainText_;
};

// A heading in font, announced to screen readers as a heading.
QLabel *headingLabel(const QString &text, const QFont &font, QWidget *parent);

} // namespace tampod
