#pragma once

#include "core/strict_json.h"
#include "export/raw_value.h"

#include <optional>

namespace tampod::JsonCases {

// A raw-valued case under key; a text that names no case fails the record like a wrong type.
template <typename E>
E parse(const QString &raw, const char *key)
{
    if (const auto value = RawValue::parse<E>(raw))
        return *value;
    throw JsonError(QStringLiteral("%1 names no case").arg(QLatin1String(key)));
}

template <typename E>
E require(const StrictJson::Json &object, const char *key)
{
    return parse<E>(StrictJson::requireString(object, key), key);
}

template <typename E>
std::optional<E> optional(const StrictJson::Json &object, const char *key)
{
    const auto raw = StrictJson::optionalString(object, key);
    return raw ? std::optional(parse<E>(*raw, key)) : std::nullopt;
}

template <typename E>
StrictJson::Json write(E value)
{
    return StrictJson::string(RawValue::text(value));
}

} // namespace tampod::JsonCases
