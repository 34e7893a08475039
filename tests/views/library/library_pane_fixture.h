#pragma once

#include "views/library/audio_library_view.h"
#include "views/library/library_table.h"
#include "views/library/library_table_model.h"
#include "views/main/content_view.h"
#include "views/main/fake_main_window_model.h"

#include "library_fixture.h"

#include <QCoreApplication>

namespace tampod::test {

// The library pane in the main window's content, at the default window width.
struct LibraryPane : LibraryFixture {
    FakeMainWindowModel windowModel;
    ContentView content{windowModel, [] {}};
    int exports = 0;
    AudioLibraryView *pane = new AudioLibraryView(*model, [this] { ++exports; });

    LibraryPane()
    {
        content.setLibraryPane(pane);
        content.resize(607, 648);
        content.show();
        settle();
    }

    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    LibraryTable &table() const { return *pane->table(); }
};

} // namespace tampod::test
