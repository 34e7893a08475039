#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

namespace tampod {

// The application's windows by id ("main", "settings", "about", "manual"). Opening an id
// creates its window when there is none, then shows, raises and activates it, so a window
// is never opened twice. Windows other than "main" are deleted when closed, and reopening
// starts fresh. thread: main only.
class WindowRegistry : public QObject {
    Q_OBJECT

public:
    using Factory = std::function<QWidget *()>;

    explicit WindowRegistry(QObject *parent = nullptr);
    ~WindowRegistry() override;

    void add(const QString &id, Factory factory);
    // The window of id, made and brought forward; null for an unknown id.
    QWidget *open(const QString &id);
    // The window of id when it exists.
    QWidget *window(const QString &id) const;
    // Deletes every window (at shutdown).
    void closeAll();

Q_SIGNALS:
    void opened(const QString &id, QWidget *window);

private:
    QHash<QString, Factory> factories_;
    QHash<QString, QPointer<QWidget>> windows_;
};

} // namespace tampod
