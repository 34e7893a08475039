#pragma once

#include <QString>

class QWidget;

namespace tampod {

// A widget of the waveform pane that gives screen readers a value text and, when adjustable,
// the increment and decrement actions.
class AccessibleValueSource {
public:
    // Installs the factory first: setting a widget's accessible name already asks for its
    // interface, and Qt keeps the first one it gets.
    AccessibleValueSource() { install(); }
    virtual ~AccessibleValueSource() = default;
    virtual QString accessibleValue() const = 0;
    virtual bool isAdjustable() const { return false; }
    virtual void accessibleAdjust(bool /*increment*/) {}

    // Installs (once) the factory that gives such widgets their accessible interface.
    static void install();
    // Tells an active screen reader that the widget's value text changed.
    static void valueChanged(QWidget *widget);
};

} // namespace tampod
