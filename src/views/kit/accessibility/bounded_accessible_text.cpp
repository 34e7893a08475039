#include "views/kit/accessibility/bounded_accessible_text.h"

#include <QList>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace tampod {

namespace {

// Whether a line (or, for a paragraph, a paragraph) ends after c.
bool endsLine(QChar c, QAccessible::TextBoundaryType boundary)
{
    return c == u'\n' || c == QChar::ParagraphSeparator
           || (boundary == QAccessible::LineBoundary && c == QChar::LineSeparator);
}

// The offsets where the text's pieces start, then its end: each step moves forward, so the
// walk ends within as many steps as the text has characters.
QList<int> edges(const QString &text, QAccessible::TextBoundaryType boundary)
{
    const int length = int(text.size());
    QList<int> found{0};
    if (boundary == QAccessible::LineBoundary || boundary == QAccessible::ParagraphBoundary) {
        for (int i = 0; i + 1 < length; ++i)
            if (endsLine(text[i], boundary))
                found.append(i + 1);
    } else {
        const auto type = boundary == QAccessible::CharBoundary ? QTextBoundaryFinder::Grapheme
                          : boundary == QAccessible::WordBoundary ? QTextBoundaryFinder::Word
                                                                  : QTextBoundaryFinder::Sentence;
        QTextBoundaryFinder finder(type, text);
        for (int steps = 0; steps < length; ++steps) {
            const qsizetype next = finder.toNextBoundary();
            if (next <= found.last() || next >= length)
                break;
            found.append(int(next));
        }
    }
    found.append(length);
    return found;
}

BoundedAccessibleText::Piece between(const QString &text, int start, int end)
{
    if (start >= end)
        return {};
    return {text.mid(start, end - start), start, end};
}

} // namespace

BoundedAccessibleText::Piece BoundedAccessibleText::piece(const QString &text, int offset,
                                                          QAccessible::TextBoundaryType boundary, Side side, int cursor)
{
    const int length = int(text.size());
    if (offset == -2)
        offset = cursor;
    else if (offset == -1)
        offset = length;
    if (offset < 0 || offset > length)
        return {};
    if (boundary == QAccessible::NoBoundary)
        return side == Side::before ? between(text, 0, offset)
               : side == Side::after ? between(text, offset, length)
                                     : between(text, 0, length);

    const QList<int> at = edges(text, boundary);
    const int pieces = int(at.size()) - 1;
    // The piece holding offset; at the end, none for a character, else the last piece.
    int holding = 0;
    while (holding < pieces && at[holding + 1] <= offset)
        ++holding;
    if (holding == pieces && boundary != QAccessible::CharBoundary)
        holding = pieces - 1;
    const int wanted = holding + (side == Side::before ? -1 : side == Side::after ? 1 : 0);
    if (wanted < 0 || wanted >= pieces)
        return {};
    return between(text, at[wanted], at[wanted + 1]);
}

int BoundedAccessibleText::unitOffset(const QString &text, int characterOffset)
{
    int unit = 0;
    for (int character = 0; character < characterOffset; ++character) {
        if (unit >= text.size())
            return int(text.size()) + characterOffset - character;
        unit += text[unit].isHighSurrogate() && unit + 1 < text.size() && text[unit + 1].isLowSurrogate() ? 2 : 1;
    }
    return unit;
}

int BoundedAccessibleText::characterOffset(const QString &text, int unitOffset)
{
    const int within = std::clamp(unitOffset, 0, int(text.size()));
    int characters = 0;
    for (int unit = 0; unit < within; ++unit)
        if (!(text[unit].isLowSurrogate() && unit > 0 && text[unit - 1].isHighSurrogate()))
            ++characters;
    return characters + std::max(0, unitOffset - within);
}

QString BoundedAccessibleText::text(int start, int end) const
{
    const QString whole = content();
    const int count = characterOffset(whole, int(whole.size()));
    start = std::max(start, 0);
    end = std::min(end, count);
    if (start >= end)
        return {};
    const int from = unitOffset(whole, start);
    return whole.mid(from, unitOffset(whole, end) - from);
}

int BoundedAccessibleText::characterCount() const
{
    const QString whole = content();
    return characterOffset(whole, int(whole.size()));
}

QString BoundedAccessibleText::attributes(int, int *start, int *end) const
{
    *start = 0;
    *end = characterCount();
    return {};
}

QString BoundedAccessibleText::answer(int offset, QAccessible::TextBoundaryType boundary, Side side, int *start,
                                      int *end) const
{
    const QString whole = content();
    const int asked = offset >= 0 ? unitOffset(whole, offset) : offset;
    const Piece found = piece(whole, asked, boundary, side, unitOffset(whole, cursorPosition()));
    *start = found.start < 0 ? -1 : characterOffset(whole, found.start);
    *end = found.end < 0 ? -1 : characterOffset(whole, found.end);
    return found.text;
}

QString BoundedAccessibleText::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int *start,
                                                int *end) const
{
    return answer(offset, boundary, Side::before, start, end);
}

QString BoundedAccessibleText::textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int *start,
                                            int *end) const
{
    return answer(offset, boundary, Side::at, start, end);
}

QString BoundedAccessibleText::textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int *start,
                                               int *end) const
{
    return answer(offset, boundary, Side::after, start, end);
}

} // namespace tampod
