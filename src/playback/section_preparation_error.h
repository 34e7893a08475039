#pragma once

#include "core/error.h"

namespace tampod {

// Why a loop section could not be prepared; the message is the user's sentence.
class SectionPreparationError : public Error {
public:
    enum class Case { unsupported, tooLarge, incomplete };

    explicit SectionPreparationError(Case kind);

    Case kind() const noexcept { return kind_; }
    bool operator==(const SectionPreparationError &other) const { return kind_ == other.kind_; }

private:
    Case kind_;
};

} // namespace tampod
