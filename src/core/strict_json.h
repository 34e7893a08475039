#pragma once

#include "core/error.h"

#include <QByteArray>
#include <QString>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>

namespace tampod {

// A JSON record that is not what its reader requires (syntax, a missing key, a wrong type).
class JsonError : public Error {
public:
    explicit JsonError(const QString &detail);
    const QString &detail() const noexcept { return detail_; }

private:
    QString detail_;
};

// Strict reading of our JSON records: required keys must be there with the right type, a
// fraction where an integer is expected fails, 64-bit integers stay exact, unknown keys are
// ignored. An optional key that is absent or null reads as nullopt. A whole number is an
// integer in whatever form it is written (5, 5.0, 5e0, 0.5e1), exactly, within 64 bits.
namespace StrictJson {

using Json = nlohmann::json;

Json parse(const QByteArray &bytes);
QByteArray dump(const Json &value); // compact

const Json &requireObject(const Json &object, const char *key);
const Json &requireArray(const Json &object, const char *key);
std::int64_t requireInt64(const Json &object, const char *key);
std::uint64_t requireUInt64(const Json &object, const char *key);
double requireDouble(const Json &object, const char *key);
bool requireBool(const Json &object, const char *key);
QString requireString(const Json &object, const char *key);

std::optional<std::int64_t> optionalInt64(const Json &object, const char *key);
std::optional<std::uint64_t> optionalUInt64(const Json &object, const char *key);
std::optional<double> optionalDouble(const Json &object, const char *key);
std::optional<bool> optionalBool(const Json &object, const char *key);
std::optional<QString> optionalString(const Json &object, const char *key);

// The same checks for a bare value (array elements).
std::int64_t asInt64(const Json &value, const char *what);
std::uint64_t asUInt64(const Json &value, const char *what);
double asDouble(const Json &value, const char *what);
QString asString(const Json &value, const char *what);

Json string(const QString &text);

// A path in a record: its text under key, and where it holds bytes that are not UTF-8 (which a
// JSON string cannot carry) also those exact bytes in Base64 under key + "Bytes". Records
// without them read as before.
void putPath(Json &object, const char *key, const QString &path);
QString requirePath(const Json &object, const char *key);

} // namespace StrictJson
} // namespace tampod
