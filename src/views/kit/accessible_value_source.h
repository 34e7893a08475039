#pragma once

#include <QString>

class QWidget;

namespace tampod {

// A custom-drawn widget whose value text is computed when a screen reader asks, and which, when
// adjustable, offers the increment and decrement actions. Its interface comes from the one
// accessible-interface factory of view_accessibility.h.
class AccessibleValueSource {
public:
    // Installs the factory first: setting a widget's accessible name already asks for its
    // interface, and Qt keeps the first one it gets.
    AccessibleValueSource() { install(); }
    virtual ~AccessibleValueSource() = default;
    virtual QString accessibleValue() const = 0;
    virtual bool isAdjustable() const { return false; }
    virtual void accessibleAdjust(bool /*increment*/) {}

    static void install();
    // Tells an active screen reader that the widget's value text changed.
    static void valueChanged(QWidget *widget);
};

} // namespace tampod
