#include "library/library_selection.h"

#include "concurrency/thread_role.h"
#include "core/observable.h"

namespace tampod {

LibrarySelection::LibrarySelection(QObject *parent) : QObject(parent) {}

const QSet<QUuid> &LibrarySelection::ids() const
{
    TAMPOD_ASSERT_MAIN_THREAD();
    return ids_;
}

void LibrarySelection::setIds(const QSet<QUuid> &ids)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    setObservable(this, ids_, ids, &LibrarySelection::idsChanged);
}

void LibrarySelection::replace(const QSet<QUuid> &ids, const QList<AudioTrack> &available)
{
    QSet<QUuid> kept;
    for (const AudioTrack &track : available) {
        if (ids.contains(track.id))
            kept.insert(track.id);
    }
    setIds(kept);
}

} // namespace tampod
