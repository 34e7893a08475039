#include "platform/loader/dynamic_library.h"

#include "core/file_handle.h"

#include <dlfcn.h>

namespace tampod {

namespace {

// dlerror's text of the last failure on this thread.
QString lastError(const QString &fallback)
{
    const char *text = ::dlerror();
    return text ? QString::fromLocal8Bit(text) : fallback;
}

} // namespace

DynamicLibraryError::DynamicLibraryError(const QString &detail)
    : Error(QStringLiteral("tampod.loader"), 1, detail)
{
}

DynamicLibrary::DynamicLibrary(const QString &path)
{
    ::dlerror(); // forget an older failure
    handle_ = ::dlopen(encodedPath(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_)
        throw DynamicLibraryError(lastError(path + QStringLiteral(": cannot be loaded")));
}

DynamicLibrary::~DynamicLibrary()
{
    if (handle_)
        ::dlclose(handle_);
}

DynamicLibrary &DynamicLibrary::operator=(DynamicLibrary &&other) noexcept
{
    if (this != &other) {
        if (handle_)
            ::dlclose(handle_);
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

void *DynamicLibrary::symbol(const char *name) const
{
    if (!handle_)
        throw DynamicLibraryError(QStringLiteral("the library is not open"));
    ::dlerror();
    void *address = ::dlsym(handle_, name);
    // Only dlerror tells a missing symbol from one whose value is null; neither can be used.
    if (const char *text = ::dlerror())
        throw DynamicLibraryError(QString::fromLocal8Bit(text));
    if (!address)
        throw DynamicLibraryError(QString::fromLatin1(name) + QStringLiteral(": the symbol is null"));
    return address;
}

} // namespace tampod
