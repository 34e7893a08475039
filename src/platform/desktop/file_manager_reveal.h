#pragma once

#include <QList>
#include <QUrl>

#include <functional>

namespace tampod {

// Asks the desktop's file manager to show files selected in their folders, over the session
// bus's org.freedesktop.FileManager1 service. thread: main only.
class FileManagerReveal {
public:
    // Never blocks: unreached is called (on the main thread) when there is no session bus, no
    // file manager answers the call, or it refuses it, so the caller can fall back.
    static void showItems(const QList<QUrl> &urls, std::function<void()> unreached);
};

} // namespace tampod
