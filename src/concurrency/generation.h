#pragma once

#include <QUuid>

namespace tampod {

// A coordinator's generation token: captured when a job starts, compared after every await.
// Replacing it invalidates every result and progress report of the jobs started before.
class Generation {
public:
    Generation() : value_(QUuid::createUuid()) {}
    const QUuid &current() const noexcept { return value_; }
    QUuid renew() { return value_ = QUuid::createUuid(); }
    bool matches(const QUuid &captured) const noexcept { return captured == value_; }

private:
    QUuid value_;
};

} // namespace tampod
