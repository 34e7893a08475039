#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace tampod {

// A custom-drawn widget whose value text is computed when a screen reader asks, and which, when
// adjustable, offers the increment and decrement actions. Its interface comes from the one
// accessible-interface factory of view_accessibility.h.
class AccessibleValueSource {
public:
    // A value within a range, for a screen reader's value interface.
    struct AccessibleRange {
        double minimum = 0;
        double maximum = 0;
        double current = 0;
        double step = 0;
    };

    // Installs the factory first: setting a widget's accessible name already asks for its
    // interface, and Qt keeps the first one it gets.
    AccessibleValueSource() { install(); }
    virtual ~AccessibleValueSource() = default;
    virtual QString accessibleValue() const = 0;
    virtual bool isAdjustable() const { return false; }
    virtual void accessibleAdjust(bool /*increment*/) {}
    // With a range, the widget also offers the value interface; setting it is the user's change.
    virtual std::optional<AccessibleRange> accessibleRange() const { return std::nullopt; }
    virtual void setAccessibleCurrent(double /*value*/) {}

    static void install();
    // Tells an active screen reader that the widget's value text changed.
    static void valueChanged(QWidget *widget);
};

} // namespace tampod
