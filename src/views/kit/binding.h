#pragma once

#include <QMetaObject>
#include <QObject>

#include <functional>
#include <utility>

namespace tampod {

// A two-way binding: read the value, write it on a user action, and learn of its changes.
// Widgets write only through set() and update themselves under a QSignalBlocker.
template <typename T>
class Binding {
public:
    using Subscribe = std::function<QMetaObject::Connection(QObject *context, std::function<void()> changed)>;

    Binding(std::function<T()> get, std::function<void(const T &)> set, Subscribe subscribe)
        : get_(std::move(get))
        , set_(std::move(set))
        , subscribe_(std::move(subscribe))
    {
    }

    // A property of a QObject with a change signal.
    template <typename Owner, typename Getter, typename Setter, typename Signal>
    static Binding of(Owner *owner, Getter getter, Setter setter, Signal signal)
    {
        return Binding([owner, getter] { return T((owner->*getter)()); },
                       [owner, setter](const T &value) { (owner->*setter)(value); },
                       [owner, signal](QObject *context, std::function<void()> changed) {
                           return QObject::connect(owner, signal, context, std::move(changed));
                       });
    }

    T get() const { return get_(); }
    void set(const T &value) const { set_(value); }
    // Calls changed (in context's thread, while context lives) after every change.
    QMetaObject::Connection onChange(QObject *context, std::function<void()> changed) const
    {
        return subscribe_(context, std::move(changed));
    }

private:
    std::function<T()> get_;
    std::function<void(const T &)> set_;
    Subscribe subscribe_;
};

// An observable Boolean owned by the application, shared as a binding between views.
// thread: main only.
class ObservableFlag : public QObject {
    Q_OBJECT

public:
    explicit ObservableFlag(bool value = false, QObject *parent = nullptr)
        : QObject(parent)
        , value_(value)
    {
    }

    bool value() const { return value_; }
    void setValue(bool value)
    {
        if (value_ == value)
            return;
        value_ = value;
        Q_EMIT valueChanged();
    }
    Binding<bool> binding() { return Binding<bool>::of(this, &ObservableFlag::value, &ObservableFlag::setValue,
                                                       &ObservableFlag::valueChanged); }

Q_SIGNALS:
    void valueChanged();

private:
    bool value_;
};

} // namespace tampod
