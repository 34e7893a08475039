#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace tampod {

// What a file panel shows: its title, the confirming button and the line above the files.
struct FilePanelText {
    QString title;
    QString prompt;
    QString message;
};

// A save panel for one new file.
struct SavePanelOptions {
    FilePanelText text;
    QString proposedName;
    // The one file type offered, by extension without the dot.
    QString fileExtension;
    bool canCreateFolders = true;
};

// An open panel for existing files, folders or both.
struct OpenPanelOptions {
    FilePanelText text;
    bool canChooseFiles = true;
    bool canChooseFolders = false;
    bool allowsMultipleSelection = false;
    bool canCreateFolders = false;
};

// The panels and the file manager, as the models ask for them. Every panel is window-modal on
// the active window and answers once, on the main thread, after the call returned; a
// completion must check that its model still exists. The composition root installs the real
// ones; tests install a fake that never opens a dialog.
// thread: main only.
class FilePanels {
public:
    using Chosen = std::function<void(const QList<QUrl> &urls)>; // empty when cancelled

    virtual ~FilePanels() = default;

    virtual void open(const OpenPanelOptions &options, Chosen completion) = 0;
    virtual void save(const SavePanelOptions &options, Chosen completion) = 0;
    // One folder; open() with folders only, kept apart so that a fake can tell them apart.
    virtual void chooseFolder(const OpenPanelOptions &options, Chosen completion) = 0;
    // The single file the user says is a loaded file at its current location; confirming
    // that it is the same file is the caller's work.
    virtual void restore(const FilePanelText &text, Chosen completion) = 0;
    // Selects the files in the desktop's file manager, else opens the first one's folder.
    virtual void showItems(const QList<QUrl> &urls) = 0;
    // Opens the folder itself in the desktop's file manager.
    virtual void openFolder(const QUrl &folder) = 0;
};

} // namespace tampod
