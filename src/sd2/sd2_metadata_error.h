#pragma once

#include "core/error.h"

namespace tampod {

// Why the resource metadata of an SD2 file cannot be used.
class SD2MetadataError : public Error {
public:
    enum class Case { invalid = 1, unsupported, tooLarge, conflicting, access };

    explicit SD2MetadataError(Case which);
    Case which() const noexcept { return case_; }

    static QString description(Case which);

private:
    Case case_;
};

} // namespace tampod
