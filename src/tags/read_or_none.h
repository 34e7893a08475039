#pragma once

#include "core/error.h"

// The tempo readers never fail: whatever cannot be read is simply a file without a tempo. A
// cancellation is no fault of the file, so it passes through: a cancelled job must end as
// cancelled, never as a track read without its tempo.
namespace tampod {

template <typename Read>
auto readOrNone(Read &&read) -> decltype(read())
{
    try {
        return read();
    } catch (const Cancelled &) {
        throw;
    } catch (...) {
        return {};
    }
}

} // namespace tampod
