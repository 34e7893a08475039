#include "views/kit/accessibility/internal/bounded_bus_call.h"
#include "views/kit/accessibility/internal/bus_names.h"

#include <QAccessible>

#include <algorithm>

namespace tampod {

namespace {

using atspi::accessibleInterfaceName;
using atspi::actionInterfaceName;
using atspi::componentInterfaceName;
using atspi::editableTextInterfaceName;
using atspi::tableInterfaceName;
using atspi::textInterfaceName;

// The bus's coordinate types: screen, window, parent.
constexpr uint lastCoordinateType = 2;

// Which argument of a method is a coordinate type, -1 for none.
int coordinateTypeArgument(const QString &interface, const QString &member)
{
    struct Place {
        const QString &interface;
        QLatin1String member;
        int argument;
    };
    static const Place places[] = {
        {componentInterfaceName, QLatin1String("Contains"), 2},
        {componentInterfaceName, QLatin1String("GetAccessibleAtPoint"), 2},
        {componentInterfaceName, QLatin1String("GetExtents"), 0},
        {componentInterfaceName, QLatin1String("GetPosition"), 0},
        {componentInterfaceName, QLatin1String("SetExtents"), 4},
        {componentInterfaceName, QLatin1String("SetPosition"), 2},
        {textInterfaceName, QLatin1String("GetCharacterExtents"), 1},
        {textInterfaceName, QLatin1String("GetOffsetAtPoint"), 2},
        {textInterfaceName, QLatin1String("GetRangeExtents"), 2},
        {textInterfaceName, QLatin1String("GetBoundedRanges"), 4},
    };
    for (const Place &place : places)
        if (place.interface == interface && place.member == member)
            return place.argument;
    return -1;
}

// The element's text length in its own offsets; the value text where it has no text.
int characterCount(QAccessibleInterface *element)
{
    if (QAccessibleTextInterface *text = element->textInterface())
        return std::max(0, text->characterCount());
    return int(element->text(QAccessible::Value).size());
}

int offsetIn(const QVariant &asked, int count)
{
    return std::clamp(asked.toInt(), 0, count);
}

// A question's offset: -1 (the end) and -2 (the cursor) as Qt reads them, any other within the text.
int questionOffsetIn(const QVariant &asked, int count)
{
    const int offset = asked.toInt();
    return offset == -1 || offset == -2 ? offset : std::clamp(offset, 0, count);
}

// The range at arguments[first], [first + 1] within the text: an end of -1 is the text's end,
// and the range never ends before it starts.
void boundRange(QVariantList &arguments, int first, int count)
{
    const int start = offsetIn(arguments[first], count);
    const int end = arguments[first + 1].toInt() == -1 ? count : offsetIn(arguments[first + 1], count);
    arguments[first] = start;
    arguments[first + 1] = std::max(start, end);
}

bool within(const QVariant &asked, int count)
{
    const int index = asked.toInt();
    return index >= 0 && index < count;
}

// The first characters (code points) of text: at most length, all for a negative length.
QString firstCharacters(const QString &text, int length)
{
    if (length < 0)
        return text;
    qsizetype unit = 0;
    for (int taken = 0; taken < length && unit < text.size(); ++taken)
        unit += text[unit].isHighSurrogate() && unit + 1 < text.size() && text[unit + 1].isLowSurrogate() ? 2 : 1;
    return text.left(unit);
}

// The actions the bridge counts for an element: its own, then increase and decrease for a value.
int actionCount(QAccessibleInterface *element)
{
    QStringList names;
    if (QAccessibleActionInterface *actions = element->actionInterface())
        names = actions->actionNames();
    if (element->valueInterface()) {
        for (const QString &name : {QAccessibleActionInterface::increaseAction(), QAccessibleActionInterface::decreaseAction()})
            if (!names.contains(name))
                names.append(name);
    }
    return int(names.size());
}

} // namespace

BoundedBusCall BoundedBusCall::of(QAccessibleInterface *element, const QString &interface, const QString &member,
                                  const QVariantList &arguments)
{
    if (const int at = coordinateTypeArgument(interface, member); at >= 0 && at < arguments.size()
                                                                  && arguments[at].toUInt() > lastCoordinateType)
        return refuse(QDBusError::InvalidArgs, QStringLiteral("No such coordinate type."));
    if (interface == textInterfaceName)
        return ofText(element, member, arguments);
    if (interface == editableTextInterfaceName)
        return ofEditableText(element, member, arguments);
    if (interface == tableInterfaceName)
        return ofTable(element, member, arguments);
    if (interface == actionInterfaceName)
        return ofAction(element, member, arguments);
    if (interface == accessibleInterfaceName && member == QLatin1String("GetChildAtIndex")
        && arguments.first().toInt() >= element->childCount())
        return pass({-1}); // the bridge's none
    return pass(arguments);
}

BoundedBusCall BoundedBusCall::ofText(QAccessibleInterface *element, const QString &member, QVariantList arguments)
{
    QAccessibleTextInterface *text = element->textInterface();
    if (!text)
        return pass(arguments);
    const int count = characterCount(element);
    if (member == QLatin1String("GetText") || member == QLatin1String("AddSelection")
        || member == QLatin1String("GetRangeExtents")) {
        boundRange(arguments, 0, count);
    } else if (member == QLatin1String("SetSelection")) {
        if (!within(arguments[0], std::max(1, text->selectionCount())))
            return answer({false});
        boundRange(arguments, 1, count);
    } else if (member == QLatin1String("GetSelection")) {
        if (!within(arguments[0], text->selectionCount()))
            return answer({text->cursorPosition(), text->cursorPosition()});
    } else if (member == QLatin1String("RemoveSelection")) {
        if (!within(arguments[0], text->selectionCount()))
            return answer({false});
    } else if (member == QLatin1String("GetTextBeforeOffset") || member == QLatin1String("GetTextAtOffset")
               || member == QLatin1String("GetTextAfterOffset")) {
        arguments[0] = questionOffsetIn(arguments[0], count);
    } else if (member == QLatin1String("SetCaretOffset") || member == QLatin1String("GetCharacterAtOffset")
               || member == QLatin1String("GetCharacterExtents") || member == QLatin1String("GetAttributes")
               || member == QLatin1String("GetAttributeValue") || member == QLatin1String("GetAttributeRun")) {
        arguments[0] = offsetIn(arguments[0], count);
    } else if (member == QLatin1String("GetBoundedRanges")) {
        // The bridge takes this question and never answers it.
        return refuse(QDBusError::NotSupported, QStringLiteral("Text ranges within a rectangle are not offered."));
    }
    return pass(arguments);
}

BoundedBusCall BoundedBusCall::ofEditableText(QAccessibleInterface *element, const QString &member,
                                              QVariantList arguments)
{
    const int count = characterCount(element);
    if (member == QLatin1String("InsertText")) {
        // The bridge cuts or pads the text to the length in UTF-16 units: it gets the units
        // the inserted characters take.
        const QString inserted = firstCharacters(arguments[1].toString(), arguments[2].toInt());
        arguments[0] = offsetIn(arguments[0], count);
        arguments[1] = inserted;
        arguments[2] = int(inserted.size());
    } else if (member == QLatin1String("PasteText")) {
        arguments[0] = offsetIn(arguments[0], count);
    } else if (member == QLatin1String("DeleteText") || member == QLatin1String("CutText")
               || member == QLatin1String("CopyText")) {
        boundRange(arguments, 0, count);
    }
    return pass(arguments);
}

BoundedBusCall BoundedBusCall::ofTable(QAccessibleInterface *element, const QString &member, QVariantList arguments)
{
    QAccessibleTableInterface *table = element->tableInterface();
    if (!table)
        return pass(arguments);
    const int rows = table->rowCount();
    const int columns = table->columnCount();
    const bool rowAndColumn = arguments.size() == 2;
    const bool there = rowAndColumn ? within(arguments[0], rows) && within(arguments[1], columns)
                       : member.contains(QLatin1String("Column")) ? within(arguments.value(0), columns)
                                                                  : within(arguments.value(0), rows);
    if (member == QLatin1String("GetRowAtIndex") || member == QLatin1String("GetColumnAtIndex"))
        return arguments[0].toInt() >= element->childCount() ? answer({-1}) : pass(arguments);
    if (arguments.isEmpty() || member == QLatin1String("GetRowColumnExtentsAtIndex") || there)
        return pass(arguments);
    if (member == QLatin1String("GetAccessibleAt") || member == QLatin1String("GetRowHeader")
        || member == QLatin1String("GetColumnHeader"))
        return noElement();
    if (member == QLatin1String("GetIndexAt"))
        return answer({-1});
    if (member == QLatin1String("GetRowDescription") || member == QLatin1String("GetColumnDescription"))
        return answer({QString()});
    if (member == QLatin1String("GetRowExtentAt") || member == QLatin1String("GetColumnExtentAt"))
        return answer({0});
    return answer({false}); // selected, or selection changed
}

BoundedBusCall BoundedBusCall::ofAction(QAccessibleInterface *element, const QString &member, QVariantList arguments)
{
    if (arguments.isEmpty() || within(arguments[0], actionCount(element)))
        return pass(arguments);
    if (member == QLatin1String("DoAction"))
        return answer({false});
    return answer({QString()}); // its name, description or key binding
}

BoundedBusCall BoundedBusCall::pass(QVariantList arguments)
{
    BoundedBusCall call;
    call.arguments_ = std::move(arguments);
    return call;
}

BoundedBusCall BoundedBusCall::answer(QVariantList values)
{
    BoundedBusCall call;
    call.outcome_ = Outcome::answer;
    call.arguments_ = std::move(values);
    return call;
}

BoundedBusCall BoundedBusCall::noElement()
{
    BoundedBusCall call;
    call.outcome_ = Outcome::noElement;
    return call;
}

BoundedBusCall BoundedBusCall::refuse(QDBusError::ErrorType error, const QString &why)
{
    BoundedBusCall call;
    call.outcome_ = Outcome::refuse;
    call.error_ = error;
    call.why_ = why;
    return call;
}

} // namespace tampod
