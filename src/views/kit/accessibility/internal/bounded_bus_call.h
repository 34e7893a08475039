#pragma once

#include <QDBusError>
#include <QString>
#include <QVariantList>

class QAccessibleInterface;

namespace tampod {

// A well-formed call to an element on the accessibility bus, with every offset, length, index
// and count brought within the element's text or children before Qt's bridge sees it, or
// answered here where the bridge, given a number outside them, would loop without end, write
// memory it never filled, or not answer at all.
// - Offsets are clamped to the text (-1 and -2 keep Qt's meaning of the end and the cursor
//   where a question takes them); a range's end of -1 is the text's end, and a range never
//   ends before it starts.
// - An inserted text holds at most its own characters: the bus's length is read as a count
//   that cannot exceed them. The C API documents it in bytes and readers pass characters, and
//   every length a caller means for a whole text is at least its character count; a negative
//   length is the whole text, as the toolkits read -1.
// - A child, row, column, action or selection that is not there is answered as none: no
//   element, -1, an empty text or false, as the bridge answers an index below zero.
// - A coordinate type that is not screen, window or parent is refused.
class BoundedBusCall {
public:
    enum class Outcome {
        pass,      // to the bridge, with arguments()
        answer,    // answered with arguments()
        noElement, // answered with the null element
        refuse,    // answered with error() and why()
    };

    static BoundedBusCall of(QAccessibleInterface *element, const QString &interface, const QString &member,
                             const QVariantList &arguments);

    Outcome outcome() const { return outcome_; }
    const QVariantList &arguments() const { return arguments_; }
    QDBusError::ErrorType error() const { return error_; }
    const QString &why() const { return why_; }

private:
    static BoundedBusCall pass(QVariantList arguments);
    static BoundedBusCall answer(QVariantList values);
    static BoundedBusCall noElement();
    static BoundedBusCall refuse(QDBusError::ErrorType error, const QString &why);

    static BoundedBusCall ofText(QAccessibleInterface *element, const QString &member, QVariantList arguments);
    static BoundedBusCall ofEditableText(QAccessibleInterface *element, const QString &member,
                                         QVariantList arguments);
    static BoundedBusCall ofTable(QAccessibleInterface *element, const QString &member, QVariantList arguments);
    static BoundedBusCall ofAction(QAccessibleInterface *element, const QString &member, QVariantList arguments);

    Outcome outcome_ = Outcome::pass;
    QVariantList arguments_;
    QDBusError::ErrorType error_ = QDBusError::NoError;
    QString why_;
};

} // namespace tampod
