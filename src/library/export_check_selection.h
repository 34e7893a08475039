#pragma once

#include <QObject>
#include <QSet>
#include <QUuid>

namespace tampod {

// The tracks whose Export check box is on, as track IDs. Main thread only.
class ExportCheckSelection : public QObject {
    Q_OBJECT
    Q_PROPERTY(QSet<QUuid> ids READ ids WRITE setIds NOTIFY idsChanged)

public:
    explicit ExportCheckSelection(QObject *parent = nullptr);

    const QSet<QUuid> &ids() const;
    // An equal set notifies nobody.
    void setIds(const QSet<QUuid> &ids);

    // These always notify, also when nothing changes.
    void set(const QUuid &id, bool checked);
    void remove(const QSet<QUuid> &ids);
    void clear();

Q_SIGNALS:
    void idsChanged();

private:
    QSet<QUuid> ids_; // thread: main
};

} // namespace tampod
