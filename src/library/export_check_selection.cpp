#include "library/export_check_selection.h"

#include "concurrency/thread_role.h"
#include "core/observable.h"

namespace tampod {

ExportCheckSelection::ExportCheckSelection(QObject *parent) : QObject(parent) {}

const QSet<QUuid> &ExportCheckSelection::ids() const
{
    TAMPOD_ASSERT_MAIN_THREAD();
    return ids_;
}

void ExportCheckSelection::setIds(const QSet<QUuid> &ids)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    setObservable(this, ids_, ids, &ExportCheckSelection::idsChanged);
}

void ExportCheckSelection::set(const QUuid &id, bool checked)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (checked)
        ids_.insert(id);
    else
        ids_.remove(id);
    Q_EMIT idsChanged();
}

void ExportCheckSelection::remove(const QSet<QUuid> &ids)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    ids_.subtract(ids);
    Q_EMIT idsChanged();
}

void ExportCheckSelection::clear()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    ids_.clear();
    Q_EMIT idsChanged();
}

} // namespace tampod
