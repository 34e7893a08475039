#include "views/kit/accessibility/bounded_accessible_text.h"
#include "views/kit/controls/stepper.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/accessibility/view_accessibility.h"

#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QValidator>
#include <QWidget>

#include <gtest/gtest.h>

#include <tuple>

using namespace tampod;

namespace {

using Piece = BoundedAccessibleText::Piece;
using Side = BoundedAccessibleText::Side;

std::tuple<QString, int, int> asked(QAccessibleTextInterface *text, Side side, int offset,
                                    QAccessible::TextBoundaryType boundary)
{
    int start = -2, end = -2;
    const QString piece = side == Side::before  ? text->textBeforeOffset(offset, boundary, &start, &end)
                          : side == Side::after ? text->textAfterOffset(offset, boundary, &start, &end)
                                                : text->textAtOffset(offset, boundary, &start, &end);
    return {piece, start, end};
}

// Asks text everything a screen reader asks at its edges: every piece is a part of the text
// where it says it is, or none at all.
void expectEveryQuestionAnswered(QAccessibleInterface *element, const QString &expected)
{
    ASSERT_NE(element, nullptr);
    QAccessibleTextInterface *text = element->textInterface();
    ASSERT_NE(text, nullptr) << element->role();
    const int count = text->characterCount();
    ASSERT_EQ(text->text(0, count), expected);
    for (const auto boundary : {QAccessible::CharBoundary, QAccessible::WordBoundary, QAccessible::SentenceBoundary,
                                QAccessible::ParagraphBoundary, QAccessible::LineBoundary, QAccessible::NoBoundary}) {
        for (const Side side : {Side::before, Side::at, Side::after}) {
            for (const int offset : {-5, -1, 0, count - 1, count, count + 1}) {
                const auto [piece, start, end] = asked(text, side, offset, boundary);
                const std::string where = expected.toStdString() + " boundary " + std::to_string(boundary) + " side "
                                          + std::to_string(int(side)) + " offset " + std::to_string(offset);
                if (piece.isEmpty()) {
                    EXPECT_EQ(start, -1) << where;
                    EXPECT_EQ(end, -1) << where;
                } else {
                    EXPECT_TRUE(0 <= start && start < end && end <= count) << where;
                    EXPECT_EQ(piece, expected.mid(start, end - start)) << where;
                }
            }
        }
    }
}

} // namespace

TEST(AccessibleText, PiecesAtTheEndAreTheLastOnesAndNothingPastIt)
{
    const QString name = QStringLiteral("batch_01.wav");
    const auto piece = [&](int offset, QAccessible::TextBoundaryType boundary, Side side) {
        const Piece found = BoundedAccessibleText::piece(name, offset, boundary, side);
        return std::tuple(found.text, found.start, found.end);
    };
    EXPECT_EQ(piece(12, QAccessible::WordBoundary, Side::at), std::tuple(QString("wav"), 9, 12));
    EXPECT_EQ(piece(-1, QAccessible::WordBoundary, Side::at), std::tuple(QString("wav"), 9, 12));
    EXPECT_EQ(piece(12, QAccessible::WordBoundary, Side::before), std::tuple(QString("."), 8, 9));
    EXPECT_EQ(piece(0, QAccessible::WordBoundary, Side::after), std::tuple(QString("."), 8, 9));
    EXPECT_EQ(piece(12, QAccessible::WordBoundary, Side::after), std::tuple(QString(), -1, -1));
    EXPECT_EQ(piece(12, QAccessible::CharBoundary, Side::at), std::tuple(QString(), -1, -1));
    EXPECT_EQ(piece(12, QAccessible::CharBoundary, Side::before), std::tuple(QString("v"), 11, 12));
    EXPECT_EQ(piece(11, QAccessible::CharBoundary, Side::at), std::tuple(QString("v"), 11, 12));
    EXPECT_EQ(piece(12, QAccessible::SentenceBoundary, Side::at), std::tuple(name, 0, 12));
    EXPECT_EQ(piece(12, QAccessible::LineBoundary, Side::at), std::tuple(name, 0, 12));
    EXPECT_EQ(piece(5, QAccessible::NoBoundary, Side::before), std::tuple(QString("batch"), 0, 5));
    EXPECT_EQ(piece(13, QAccessible::NoBoundary, Side::at), std::tuple(QString(), -1, -1));
    EXPECT_EQ(piece(-2, QAccessible::CharBoundary, Side::at), std::tuple(QString("b"), 0, 1)) << "the cursor";
    EXPECT_EQ(piece(-1, QAccessible::CharBoundary, Side::at), std::tuple(QString(), -1, -1)) << "the end";
    EXPECT_EQ(BoundedAccessibleText::piece({}, 0, QAccessible::WordBoundary, Side::at).start, -1);

    // Lines and paragraphs end after their line break.
    const QString lines = QStringLiteral("Ready\nto export");
    const Piece second = BoundedAccessibleText::piece(lines, -1, QAccessible::LineBoundary, Side::at);
    EXPECT_EQ(std::tuple(second.text, second.start, second.end), std::tuple(QString("to export"), 6, 15));
    const Piece first = BoundedAccessibleText::piece(lines, 8, QAccessible::ParagraphBoundary, Side::before);
    EXPECT_EQ(std::tuple(first.text, first.start, first.end), std::tuple(QString("Ready\n"), 0, 6));
    // A line break at the very end starts no line of its own.
    const Piece last = BoundedAccessibleText::piece(QStringLiteral("ab\ncd\n"), 6, QAccessible::LineBoundary, Side::at);
    EXPECT_EQ(std::tuple(last.text, last.start, last.end), std::tuple(QString("cd\n"), 3, 6));
}

// Offsets and counts are characters, not UTF-16 units, in every kind of text; a range reversed
// is none and one partly outside the text is cut to it.
TEST(AccessibleText, TextsCountCharactersAndAnswerRangesWithinTheText)
{
    installAccessibleFactory();
    const QString name = QStringLiteral("🎵 emoji 🎶.wav");
    QWidget waveform;
    makeAccessible(&waveform, QAccessible::Graphic);
    setAccessibleValue(&waveform, name);
    QLineEdit field(name);
    QPlainTextEdit details(name);
    details.setReadOnly(true);
    for (QWidget *widget : {&waveform, static_cast<QWidget *>(&field), static_cast<QWidget *>(&details)}) {
        QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(widget)->textInterface();
        ASSERT_NE(text, nullptr);
        const std::string where = widget->metaObject()->className();
        EXPECT_EQ(text->characterCount(), 13) << where;
        const std::pair<std::pair<int, int>, QString> ranges[] = {
            {{1, 13}, QStringLiteral(" emoji 🎶.wav")},
            {{8, 9}, QStringLiteral("🎶")},
            {{5, 2}, QString()},
            {{-5, 2}, QStringLiteral("🎵 ")},
            {{11, 99}, QStringLiteral("av")},
            {{13, 20}, QString()},
        };
        for (const auto &[range, expected] : ranges)
            EXPECT_EQ(text->text(range.first, range.second), expected) << where << " " << range.first << "-" << range.second;
        EXPECT_EQ(asked(text, Side::at, 8, QAccessible::CharBoundary), std::tuple(QStringLiteral("🎶"), 8, 9)) << where;
        EXPECT_EQ(asked(text, Side::at, 4, QAccessible::WordBoundary), std::tuple(QStringLiteral("emoji"), 2, 7)) << where;
        EXPECT_EQ(asked(text, Side::before, 13, QAccessible::CharBoundary), std::tuple(QStringLiteral("v"), 12, 13)) << where;
    }
    // A cursor and a selection are counted in characters too.
    field.setCursorPosition(int(name.indexOf(u'.')));
    QAccessibleTextInterface *fieldText = QAccessible::queryAccessibleInterface(&field)->textInterface();
    EXPECT_EQ(fieldText->cursorPosition(), 9);
    fieldText->setSelection(0, 8, 13);
    EXPECT_EQ(field.selectedText(), QStringLiteral("🎶.wav"));
    QAccessibleTextInterface *detailsText = QAccessible::queryAccessibleInterface(&details)->textInterface();
    detailsText->setSelection(0, 2, 7);
    int start = 0, end = 0;
    detailsText->selection(0, &start, &end);
    EXPECT_EQ(std::pair(start, end), std::pair(2, 7));
    EXPECT_EQ(details.textCursor().selectedText(), QStringLiteral("emoji"));
}

// Every text a reader can ask about, the kit's read-only texts and Qt's own fields, answers
// at once at every edge.
TEST(AccessibleText, EveryTextAnswersAtItsEdgesForEveryBoundary)
{
    installAccessibleFactory(); // as the application does first
    QWidget waveform;
    makeAccessible(&waveform, QAccessible::Graphic);
    setAccessibleValue(&waveform, QStringLiteral("batch_01.wav"));
    expectEveryQuestionAnswered(QAccessible::queryAccessibleInterface(&waveform), QStringLiteral("batch_01.wav"));

    TaggedComboBox format;
    format.setItems({{QStringLiteral("wav"), QStringLiteral("WAV")}});
    format.setCurrentTag(QStringLiteral("wav"));
    expectEveryQuestionAnswered(QAccessible::queryAccessibleInterface(&format), QStringLiteral("WAV"));

    QLineEdit field(QStringLiteral("Ready to export"));
    expectEveryQuestionAnswered(QAccessible::queryAccessibleInterface(&field), QStringLiteral("Ready to export"));

    Stepper gain;
    gain.setRange(-100, 100);
    gain.setValue(-31);
    expectEveryQuestionAnswered(QAccessible::queryAccessibleInterface(&gain), QStringLiteral("-31"));

    QComboBox typed;
    typed.setEditable(true);
    typed.addItem(QStringLiteral("Elapsed time"));
    expectEveryQuestionAnswered(QAccessible::queryAccessibleInterface(typed.lineEdit()), QStringLiteral("Elapsed time"));

    // A multi-line text view, as an alert's details show.
    const QString lines = QStringLiteral("The file could not be read at\nlong last.\n");
    QPlainTextEdit details(lines);
    details.setReadOnly(true);
    QAccessibleInterface *detailsElement = QAccessible::queryAccessibleInterface(&details);
    expectEveryQuestionAnswered(detailsElement, lines);
    EXPECT_TRUE(detailsElement->state().readOnly);
    EXPECT_EQ(asked(detailsElement->textInterface(), Side::after, 27, QAccessible::LineBoundary),
              std::tuple(QStringLiteral("long last.\n"), 30, 41));
    EXPECT_EQ(asked(detailsElement->textInterface(), Side::at, 31, QAccessible::WordBoundary),
              std::tuple(QStringLiteral("long"), 30, 34));
}

TEST(AccessibleText, AFieldIsAnEditableTextAsQtsOwnIs)
{
    installAccessibleFactory();
    QLineEdit field(QStringLiteral("take"));
    field.resize(200, 30);
    field.show();
    QAccessibleInterface *element = QAccessible::queryAccessibleInterface(&field);
    EXPECT_EQ(element->role(), QAccessible::EditableText);
    EXPECT_EQ(element->text(QAccessible::Value), QStringLiteral("take"));
    ASSERT_NE(element->editableTextInterface(), nullptr);
    element->editableTextInterface()->insertText(4, QStringLiteral("s"));
    EXPECT_EQ(field.text(), QStringLiteral("takes"));
    QAccessibleTextInterface *text = element->textInterface();
    text->setSelection(0, 1, 3);
    int start = 0, end = 0;
    text->selection(0, &start, &end);
    EXPECT_EQ(std::pair(start, end), std::pair(1, 3));
    EXPECT_EQ(field.selectedText(), QStringLiteral("ak"));
    const QRect first = text->characterRect(0);
    EXPECT_TRUE(QRect(field.mapToGlobal(QPoint(0, 0)), field.size()).contains(first)) << first.x() << "," << first.y();
    EXPECT_LT(first.right(), text->characterRect(1).right());

    // Read-only: nothing a reader sends changes it. A password is read as no text.
    field.setReadOnly(true);
    element->editableTextInterface()->deleteText(0, 5);
    EXPECT_EQ(field.text(), QStringLiteral("takes"));
    EXPECT_TRUE(element->state().readOnly);
    field.setEchoMode(QLineEdit::Password);
    EXPECT_EQ(text->text(0, text->characterCount()), QString());
    EXPECT_TRUE(element->state().passwordEdit);
}

TEST(AccessibleText, ASpinBoxHasItsRangeAndItsFieldsText)
{
    installAccessibleFactory();
    QSpinBox gain;
    gain.setRange(-100, 100);
    gain.setValue(-31);
    gain.setSuffix(QStringLiteral(" dB"));
    QAccessibleInterface *element = QAccessible::queryAccessibleInterface(&gain);
    EXPECT_EQ(element->role(), QAccessible::SpinBox);
    EXPECT_EQ(element->text(QAccessible::Value), QStringLiteral("-31 dB"));
    EXPECT_EQ(element->childCount(), 0);
    QAccessibleValueInterface *value = element->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->minimumValue().toInt(), -100);
    EXPECT_EQ(value->maximumValue().toInt(), 100);
    value->setCurrentValue(500);
    EXPECT_EQ(gain.value(), 100);
    EXPECT_EQ(value->currentValue().toInt(), 100);
    ASSERT_NE(element->textInterface(), nullptr);
    EXPECT_EQ(element->textInterface()->text(0, element->textInterface()->characterCount()), QStringLiteral("100 dB"));
}

// What a reader, a dictation tool or an on-screen keyboard edits through a field's element is
// the user's edit: the views take a field's text only when the user edits it (textEdited), so
// every edit is heard there, through the field's validator as typing is; and a box that takes
// typed digits on Return takes them at once.
TEST(AccessibleText, AnEditThroughTheElementIsTheUsersEdit)
{
    installAccessibleFactory();
    QLineEdit field;
    field.setValidator(new QIntValidator(0, 999999, &field));
    QStringList edited;
    QObject::connect(&field, &QLineEdit::textEdited, [&](const QString &text) { edited << text; });
    QAccessibleInterface *element = QAccessible::queryAccessibleInterface(&field);
    QAccessibleEditableTextInterface *editable = element->editableTextInterface();
    ASSERT_NE(editable, nullptr);

    element->setText(QAccessible::Value, QStringLiteral("22050"));
    editable->insertText(5, QStringLiteral("0"));  // as a paste at the end
    editable->deleteText(0, 1);                    // as a cut of the first digit
    editable->replaceText(0, 2, QStringLiteral("44"));
    element->setText(QAccessible::Value, QStringLiteral("abc")); // refused, as typing it is
    editable->insertText(0, QStringLiteral("x"));
    element->setText(QAccessible::Value, QString());
    EXPECT_EQ(edited, (QStringList{"22050", "220500", "20500", "44500", ""}));
    EXPECT_EQ(field.text(), QString());
    field.undo();
    EXPECT_EQ(field.text(), QStringLiteral("44500"));

    field.setReadOnly(true);
    edited.clear();
    element->setText(QAccessible::Value, QStringLiteral("1"));
    EXPECT_EQ(edited, QStringList());

    Stepper repeats;
    repeats.setRange(1, 99);
    repeats.setStoredValue(2);
    QList<int> chosen;
    QObject::connect(&repeats, &Stepper::valueChosen, [&](int value) { chosen << value; });
    QAccessibleInterface *box = QAccessible::queryAccessibleInterface(&repeats);
    ASSERT_NE(box->editableTextInterface(), nullptr);
    box->editableTextInterface()->replaceText(0, 1, QStringLiteral("7"));
    box->editableTextInterface()->insertText(1, QStringLiteral("5"));
    EXPECT_EQ(chosen, (QList<int>{7, 75}));
    EXPECT_EQ(repeats.value(), 75);
}
