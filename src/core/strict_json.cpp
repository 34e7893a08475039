#include "core/strict_json.h"

#include <cmath>

namespace tampod {

JsonError::JsonError(const QString &detail)
    : Error(QStringLiteral("tampod.json"), 1,
            QStringLiteral("The data couldn’t be read because it isn’t in the correct format.")),
      detail_(detail)
{
}

namespace StrictJson {

namespace {

const Json &member(const Json &object, const char *key)
{
    if (!object.is_object())
        throw JsonError(QStringLiteral("expected an object"));
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        throw JsonError(QStringLiteral("missing key %1").arg(QLatin1String(key)));
    return *it;
}

const Json *optionalMember(const Json &object, const char *key)
{
    if (!object.is_object())
        throw JsonError(QStringLiteral("expected an object"));
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

QString wrongType(const char *what, const char *expected)
{
    return QStringLiteral("%1 is not %2").arg(QLatin1String(what), QLatin1String(expected));
}

} // namespace

Json parse(const QByteArray &bytes)
{
    try {
        return Json::parse(bytes.constBegin(), bytes.constEnd());
    } catch (const Json::exception &e) {
        throw JsonError(QString::fromUtf8(e.what()));
    }
}

QByteArray dump(const Json &value)
{
    try {
        const std::string text = value.dump(-1, ' ', false, Json::error_handler_t::strict);
        return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
    } catch (const Json::exception &e) {
        throw JsonError(QString::fromUtf8(e.what()));
    }
}

std::int64_t asInt64(const Json &value, const char *what)
{
    if (value.is_number_integer() && !value.is_number_unsigned())
        return value.get<std::int64_t>();
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(INT64_MAX))
            return static_cast<std::int64_t>(u);
    }
    throw JsonError(wrongType(what, "a 64-bit integer"));
}

std::uint64_t asUInt64(const Json &value, const char *what)
{
    if (value.is_number_unsigned())
        return value.get<std::uint64_t>();
    if (value.is_number_integer() && value.get<std::int64_t>() >= 0)
        return static_cast<std::uint64_t>(value.get<std::int64_t>());
    throw JsonError(wrongType(what, "an unsigned 64-bit integer"));
}

double asDouble(const Json &value, const char *what)
{
    if (!value.is_number())
        throw JsonError(wrongType(what, "a number"));
    return value.get<double>();
}

QString asString(const Json &value, const char *what)
{
    if (!value.is_string())
        throw JsonError(wrongType(what, "a string"));
    return QString::fromStdString(value.get_ref<const std::string &>());
}

const Json &requireObject(const Json &object, const char *key)
{
    const Json &value = member(object, key);
    if (!value.is_object())
        throw JsonError(wrongType(key, "an object"));
    return value;
}

const Json &requireArray(const Json &object, const char *key)
{
    const Json &value = member(object, key);
    if (!value.is_array())
        throw JsonError(wrongType(key, "an array"));
    return value;
}

std::int64_t requireInt64(const Json &object, const char *key) { return asInt64(member(object, key), key); }
std::uint64_t requireUInt64(const Json &object, const char *key) { return asUInt64(member(object, key), key); }
double requireDouble(const Json &object, const char *key) { return asDouble(member(object, key), key); }
QString requireString(const Json &object, const char *key) { return asString(member(object, key), key); }

bool requireBool(const Json &object, const char *key)
{
    const Json &value = member(object, key);
    if (!value.is_boolean())
        throw JsonError(wrongType(key, "a boolean"));
    return value.get<bool>();
}

std::optional<std::int64_t> optionalInt64(const Json &object, const char *key)
{
    const Json *value = optionalMember(object, key);
    return value ? std::optional(asInt64(*value, key)) : std::nullopt;
}

std::optional<std::uint64_t> optionalUInt64(const Json &object, const char *key)
{
    const Json *value = optionalMember(object, key);
    return value ? std::optional(asUInt64(*value, key)) : std::nullopt;
}

std::optional<double> optionalDouble(const Json &object, const char *key)
{
    const Json *value = optionalMember(object, key);
    return value ? std::optional(asDouble(*value, key)) : std::nullopt;
}

std::optional<bool> optionalBool(const Json &object, const char *key)
{
    const Json *value = optionalMember(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_boolean())
        throw JsonError(wrongType(key, "a boolean"));
    return value->get<bool>();
}

std::optional<QString> optionalString(const Json &object, const char *key)
{
    const Json *value = optionalMember(object, key);
    return value ? std::optional(asString(*value, key)) : std::nullopt;
}

Json string(const QString &text)
{
    return Json(text.toStdString());
}

} // namespace StrictJson
} // namespace tampod
