#pragma once

#include "core/error.h"

namespace tampod {

// Why a resource fork could not be read or stored. Reading callers map these to their own
// texts; writing callers show them as they are.
class ForkStoreError : public Error {
public:
    enum class Kind {
        conflicting = 1,      // two places hold different forks
        tooLarge,             // a place holds more than the caller accepts
        noAttributes,         // the file system keeps no user extended attributes
        noSpace,              // the file system has no room for a value this large
        notStored,            // the stored fork did not read back as written
    };

    ForkStoreError(Kind kind, const QString &path, qint64 length = 0);
    Kind kind() const noexcept { return kind_; }

private:
    Kind kind_;
};

} // namespace tampod
