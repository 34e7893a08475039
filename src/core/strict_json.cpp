#include "core/strict_json.h"

#include "core/native_path.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

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

struct Whole {
    bool negative;
    std::uint64_t magnitude;
};

// The exact value of a JSON number text that is a whole number within 64 bits, read from its
// digits: a double may already have rounded a fraction to a whole number, or a large whole
// number to another one.
std::optional<Whole> wholeNumber(std::string_view text)
{
    const bool negative = !text.empty() && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    const std::size_t e = text.find_first_of("eE");
    const std::string_view mantissa = text.substr(0, e);
    long long exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view power = text.substr(e + 1);
        const bool down = !power.empty() && power.front() == '-';
        if (!power.empty() && (power.front() == '-' || power.front() == '+'))
            power.remove_prefix(1);
        // Beyond this, no 64-bit value is left either way (zero is handled below).
        if (power.size() > 6)
            exponent = 1'000'000;
        else if (std::from_chars(power.data(), power.data() + power.size(), exponent).ec != std::errc())
            return std::nullopt;
        exponent = down ? -exponent : exponent;
    }
    const std::size_t point = mantissa.find('.');
    std::string digits(mantissa.substr(0, point));
    if (point != std::string_view::npos) {
        digits += mantissa.substr(point + 1);
        exponent -= static_cast<long long>(mantissa.size() - point - 1);
    }
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.empty())
        return Whole{negative, 0};
    if (exponent < 0) {
        const auto dropped = static_cast<std::size_t>(-exponent);
        if (dropped >= digits.size() || digits.find_first_not_of('0', digits.size() - dropped) != std::string::npos)
            return std::nullopt;
        digits.resize(digits.size() - dropped);
    } else if (exponent > 20) {
        return std::nullopt;
    } else {
        digits.append(static_cast<std::size_t>(exponent), '0');
    }
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return Whole{negative, magnitude};
}

// The usual reader, but a number written with a fraction or an exponent that is whole becomes
// an integer.
class Reader : public nlohmann::detail::json_sax_dom_parser<Json> {
public:
    using json_sax_dom_parser::json_sax_dom_parser;

    bool number_float(Json::number_float_t value, const Json::string_t &text)
    {
        if (const auto whole = wholeNumber(text)) {
            constexpr std::uint64_t smallest = std::uint64_t(1) << 63;
            if (!whole->negative)
                return number_unsigned(whole->magnitude);
            if (whole->magnitude < smallest)
                return number_integer(-static_cast<std::int64_t>(whole->magnitude));
            if (whole->magnitude == smallest)
                return number_integer(std::numeric_limits<std::int64_t>::min());
        }
        return json_sax_dom_parser::number_float(value, text);
    }
};

} // namespace

Json parse(const QByteArray &bytes)
{
    try {
        Json result;
        Reader reader(result);
        Json::sax_parse(bytes.constBegin(), bytes.constEnd(), &reader);
        return result;
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

namespace {

std::string bytesKey(const char *key)
{
    return std::string(key) + "Bytes";
}

} // namespace

void putPath(Json &object, const char *key, const QString &path)
{
    object[key] = displayedPath(path).toStdString();
    if (hasUndecodedBytes(path))
        object[bytesKey(key)] = encodedPath(path).toBase64().toStdString();
}

QString requirePath(const Json &object, const char *key)
{
    const std::string bytes = bytesKey(key);
    const Json *value = optionalMember(object, bytes.c_str());
    if (!value)
        return requireString(object, key);
    const auto decoded = QByteArray::fromBase64Encoding(asString(*value, bytes.c_str()).toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        throw JsonError(QString::fromStdString(bytes) + QStringLiteral(" is not Base64"));
    return decodedPath(*decoded);
}

} // namespace StrictJson
} // namespace tampod
