#pragma once

#include "core/error.h"

#include <cstdint>

namespace tampod {

// Every REX failure, with the sentence the user sees.
class REXError : public Error {
public:
    enum class Kind { sdk, unavailable, limits, changed, verification };

    static REXError sdk(std::int32_t code) { return REXError(Kind::sdk, code); }
    static REXError unavailable() { return REXError(Kind::unavailable, 0); }
    static REXError limits() { return REXError(Kind::limits, 0); }
    static REXError changed() { return REXError(Kind::changed, 0); }
    static REXError verification() { return REXError(Kind::verification, 0); }

    Kind kind() const { return kind_; }
    std::int32_t sdkCode() const { return sdkCode_; } // the library's result for Kind::sdk

private:
    REXError(Kind kind, std::int32_t sdkCode);
    Kind kind_;
    std::int32_t sdkCode_;
};

} // namespace tampod
