#pragma once

#include <QAccessible>
#include <QString>

namespace tampod {

// A text interface whose questions for the character, word, sentence, line or paragraph at,
// before or after an offset are answered by one walk over the text that never goes past its
// end. Qt 6.4's own answer loops forever for a word, sentence or line at the end of a text, and
// the main thread with it, when a screen reader asks there (as it does at the caret). Every
// text interface of the kit derives from this class.
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

    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int *start, int *end) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int *start, int *end) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int *start, int *end) const override;

private:
    QString answer(int offset, QAccessible::TextBoundaryType boundary, Side side, int *start, int *end) const;
};

} // namespace tampod
