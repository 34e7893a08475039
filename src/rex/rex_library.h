#pragma once

#include "platform/loader/dynamic_library.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace tampod {

// The C entry points of the REX decoder library, as it is called. Every call returns a result
// code: 1 success, 2 aborted on request, anything else a failure of the library's own.
namespace REXEntry {
using Handle = void *;
using Progress = std::int32_t (*)(std::int32_t percent, void *userData); // 1 abort, 2 go on

using InitializeDLL = std::int32_t (*)();
using UninitializeDLL = std::int32_t (*)();
using GetInfoFromBuffer = std::int32_t (*)(std::int32_t bufferSize, const char *buffer, std::int32_t infoSize,
                                           std::int32_t *info);
using Create = std::int32_t (*)(Handle *handle, const char *buffer, std::int32_t bufferSize, Progress progress,
                                void *userData);
using Delete = std::int32_t (*)(Handle *handle);
using GetInfo = std::int32_t (*)(Handle handle, std::int32_t infoSize, std::int32_t *info);
using SetOutputSampleRate = std::int32_t (*)(Handle handle, std::int32_t sampleRate);
using SetPreviewTempo = std::int32_t (*)(Handle handle, std::int32_t tempo);
using StartPreview = std::int32_t (*)(Handle handle);
using StopPreview = std::int32_t (*)(Handle handle);
using RenderPreviewBatch = std::int32_t (*)(Handle handle, std::int32_t frames, float **outputs);
} // namespace REXEntry

// The decoder library loaded and initialised for one job: loaded, initialised, uninitialised
// and unloaded once per prepared loop, never shared or cached.
// thread: the REX decoder's worker only.
class REXLibrary {
public:
    static constexpr std::int32_t success = 1;
    static constexpr std::int32_t aborted = 2;
    static constexpr std::int32_t infoWords = 9;
    static constexpr std::int32_t infoBytes = infoWords * 4;

    // The decoder is not shipped with the application: the user installs the vendor's library
    // as this file under the installation folder (the parent of the executable's folder), for
    // /usr/bin/tampod at /usr/lib/tampod/librex.so. The refusal text and the manual name it.
    static constexpr const char *location = "lib/tampod/librex.so";

    // The library's path for this executable; empty when the executable's folder is unknown.
    static QString installedPath();

    // Loads and initialises the library at path. Throws REXError::unavailable when it or its
    // initialise entry point cannot be loaded, Cancelled for result 2 and REXError::sdk for
    // any other failing result; a failed start never leaves the library initialised.
    explicit REXLibrary(const QString &path);
    // Uninitialises (when initialised) and unloads.
    ~REXLibrary();
    REXLibrary(const REXLibrary &) = delete;
    REXLibrary &operator=(const REXLibrary &) = delete;

    // An entry point by its exact name; REXError::unavailable when the library has none.
    template <typename Function>
    Function entry(const char *name) const
    {
        return reinterpret_cast<Function>(address(name));
    }

    // The rule for every result that is used: 1 passes, 2 is the job's cancellation,
    // anything else REXError::sdk.
    static void check(std::int32_t result);

private:
    void *address(const char *name) const;

    std::optional<DynamicLibrary> library_;
    bool initialized_ = false;
};

} // namespace tampod
