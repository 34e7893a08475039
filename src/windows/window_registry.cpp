#include "windows/window_registry.h"

#include "windows/window_texts.h"

namespace tampod {

WindowRegistry::WindowRegistry(QObject *parent)
    : QObject(parent)
{
}

WindowRegistry::~WindowRegistry()
{
    closeAll();
}

void WindowRegistry::closeAll()
{
    for (const QPointer<QWidget> &window : std::exchange(windows_, {}))
        delete window.data();
}

void WindowRegistry::add(const QString &id, Factory factory)
{
    factories_.insert(id, std::move(factory));
}

QWidget *WindowRegistry::open(const QString &id)
{
    QWidget *window = windows_.value(id).data();
    if (!window) {
        const auto factory = factories_.find(id);
        if (factory == factories_.end())
            return nullptr;
        window = (*factory)();
        if (!window)
            return nullptr;
        if (id != WindowId::main)
            window->setAttribute(Qt::WA_DeleteOnClose);
        windows_.insert(id, window);
    }
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
    Q_EMIT opened(id, window);
    return window;
}

QWidget *WindowRegistry::window(const QString &id) const
{
    return windows_.value(id).data();
}

} // namespace tampod
