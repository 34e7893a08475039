#pragma once

#include <QtGlobal>

#include <utility>

namespace tampod {

// Sets an observable property and emits its change signal only when the value differs.
// Returns whether it changed.
template <typename Owner, typename T, typename U, typename Signal>
bool setObservable(Owner *owner, T &field, U &&value, Signal signal)
{
    if (field == value)
        return false;
    field = std::forward<U>(value);
    Q_EMIT(owner->*signal)();
    return true;
}

} // namespace tampod
