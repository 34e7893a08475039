#pragma once

#include <QString>

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace tampod {

// The saved texts of an enumeration, one per case in declaration order (UTF-8). Each
// enumeration whose saved form is a text specialises this next to its declaration.
template <typename E>
struct RawValues;

namespace RawValue {

template <typename E>
constexpr std::size_t caseCount()
{
    return RawValues<E>::texts.size();
}

// Every case in declaration order.
template <typename E>
constexpr std::array<E, caseCount<E>()> allCases()
{
    std::array<E, caseCount<E>()> cases{};
    for (std::size_t i = 0; i < cases.size(); ++i)
        cases[i] = static_cast<E>(i);
    return cases;
}

template <typename E>
QString text(E value)
{
    const auto index = static_cast<std::size_t>(value);
    if (index >= caseCount<E>())
        return QString();
    const std::string_view raw = RawValues<E>::texts[index];
    return QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));
}

// nullopt when the text names no case (exact, case-sensitive).
template <typename E>
std::optional<E> parse(const QString &raw)
{
    const QByteArray utf8 = raw.toUtf8();
    const std::string_view wanted(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    for (std::size_t i = 0; i < caseCount<E>(); ++i) {
        if (RawValues<E>::texts[i] == wanted)
            return static_cast<E>(i);
    }
    return std::nullopt;
}

} // namespace RawValue
} // namespace tampod
