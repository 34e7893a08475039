#pragma once

#include "core/error.h"

namespace tampod {

// A source that cannot be used: another file than the one loaded was chosen, or the
// loaded file cannot be read.
class SourceAccessFailure : public Error {
public:
    enum class Kind { differentFile, denied };

    explicit SourceAccessFailure(Kind kind);
    static SourceAccessFailure differentFile() { return SourceAccessFailure(Kind::differentFile); }
    static SourceAccessFailure denied() { return SourceAccessFailure(Kind::denied); }

    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

} // namespace tampod
