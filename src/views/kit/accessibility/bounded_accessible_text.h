#pragma once

#include <QAccessible>
#include <QString>

namespace tampod {

// A text interface whose questions for the character, word, sentence, line or paragraph at,
// before or after an offset are answered by one walk over the text that never goes past its
// end. Qt 6.4's own answer loops forever for a word, sentence or line at the end of a text, and
// the main thread with it, when a screen reader asks there (as it does at the caret). Every
// text interface of the kit derives from this class.
// Offsets and counts are in characters (code points), as the accessibility bus counts them, not
// in UTF-16 units: a text's characters are its content's code points.
class BoundedAccessibleText : public QAccessibleTextInterface {
public:
    enum class Side { before, at, after };
    struct Piece {
        QString text;
        int start = -1; // -1, -1 with an empty text: there is no such piece
        int end = -1;
    };

    // The piece of text around offset: -1 stands for the text's end and -2 for the cursor. A
    // character at the end is none; any other piece at the end is the last one.
    static Piece piece(const QString &text, int offset, QAccessible::TextBoundaryType boundary, Side side,
                       int cursor = 0);

    // The UTF-16 offset of a character offset, and back; past the end, counted on past it.
    static int unitOffset(const QString &text, int characterOffset);
    static int characterOffset(const QString &text, int unitOffset);

    // The characters from start to end; a range reversed or wholly outside the text is none,
    // one partly outside is cut to the text.
    QString text(int start, int end) const override;
    int characterCount() const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int *start, int *end) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int *start, int *end) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int *start, int *end) const override;
    // No attributes, over the whole text.
    QString attributes(int offset, int *start, int *end) const override;

protected:
    // The whole text a reader reads.
    virtual QString content() const = 0;

private:
    QString answer(int offset, QAccessible::TextBoundaryType boundary, Side side, int *start, int *end) const;
};

} // namespace tampod
