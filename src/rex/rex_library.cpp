#include "rex/rex_library.h"

#include "library/rex_error.h"

#include <QCoreApplication>

namespace tampod {

QString REXLibrary::installedPath()
{
    const QString folder = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    if (folder.isEmpty())
        return {};
    return folder + QStringLiteral("/../") + QLatin1StringView(location);
}

REXLibrary::REXLibrary(const QString &path)
{
    if (path.isEmpty())
        throw REXError::unavailable();
    try {
        library_.emplace(path);
    } catch (const DynamicLibraryError &) {
        throw REXError::unavailable();
    }
    // A failure from here on closes the library as the half-built object goes, without
    // uninitialising what never started.
    const auto initialize = entry<REXEntry::InitializeDLL>("REXInitializeDLL");
    check(initialize());
    initialized_ = true;
}

REXLibrary::~REXLibrary()
{
    if (!initialized_)
        return;
    try {
        entry<REXEntry::UninitializeDLL>("REXUninitializeDLL")();
    } catch (const REXError &) {
        // Nothing to uninitialise with; the library is still closed.
    }
}

void *REXLibrary::address(const char *name) const
{
    try {
        return library_->symbol(name);
    } catch (const DynamicLibraryError &) {
        throw REXError::unavailable();
    }
}

void REXLibrary::check(std::int32_t result)
{
    if (result == success)
        return;
    if (result == aborted)
        throw Cancelled();
    throw REXError::sdk(result);
}

} // namespace tampod
