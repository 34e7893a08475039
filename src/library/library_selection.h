#pragma once

#include "library/audio_track.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QUuid>

namespace tampod {

// The highlighted library rows, as track IDs. Main thread only.
class LibrarySelection : public QObject {
    Q_OBJECT
    Q_PROPERTY(QSet<QUuid> ids READ ids WRITE setIds NOTIFY idsChanged)

public:
    explicit LibrarySelection(QObject *parent = nullptr);

    const QSet<QUuid> &ids() const;
    // An equal set changes nothing and notifies nobody.
    void setIds(const QSet<QUuid> &ids);

    // Keeps only the given IDs that belong to one of the available tracks.
    void replace(const QSet<QUuid> &ids, const QList<AudioTrack> &available);

Q_SIGNALS:
    void idsChanged();

private:
    QSet<QUuid> ids_; // thread: main
};

} // namespace tampod
