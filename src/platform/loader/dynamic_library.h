#pragma once

#include "core/error.h"

#include <QString>

namespace tampod {

// The loader's failure, with the system's own text (which names the file or the symbol).
class DynamicLibraryError : public Error {
public:
    explicit DynamicLibraryError(const QString &detail);
};

// A shared library opened at run time (the REX decoder ships as one). Opened with every symbol
// bound at once and none shared with later libraries; closed with the object.
// thread: any, one at a time.
class DynamicLibrary {
public:
    // Throws DynamicLibraryError when the library cannot be loaded.
    explicit DynamicLibrary(const QString &path);
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary &&other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    DynamicLibrary &operator=(DynamicLibrary &&other) noexcept;
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;

    // The address of a symbol; throws DynamicLibraryError when the library has none.
    void *symbol(const char *name) const;
    template <typename Function>
    Function function(const char *name) const
    {
        return reinterpret_cast<Function>(symbol(name));
    }

private:
    void *handle_ = nullptr;
};

} // namespace tampod
