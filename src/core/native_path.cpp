#include "core/native_path.h"

#include <algorithm>

namespace tampod {

namespace {

constexpr char16_t firstEscape = 0xDC80;
constexpr char16_t lastEscape = 0xDCFF;

bool isEscape(char16_t unit)
{
    return unit >= firstEscape && unit <= lastEscape;
}

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at bytes[at] and its code point, or 0 when the
// byte there starts none (overlong forms, surrogates and code points past U+10FFFF included).
int sequenceAt(const QByteArray &bytes, qsizetype at, char32_t &codePoint)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[at + i]); };
    const unsigned char lead = byte(0);
    codePoint = lead;
    if (lead < 0x80)
        return 1;
    // 0xC0, 0xC1 and 0xF5..0xFF never start a sequence; the minimum refuses overlong forms.
    const int length = lead >= 0xC2 && lead <= 0xDF   ? 2
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                      : 0;
    if (length == 0)
        return 0;
    constexpr char32_t minimumOf[] = {0, 0, 0x80, 0x800, 0x10000};
    const char32_t minimum = minimumOf[length];
    codePoint = lead & (0x7F >> length);
    if (bytes.size() - at < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if (!isContinuation(byte(i)))
            return 0;
        codePoint = (codePoint << 6) | (byte(i) & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

void appendUtf8(QByteArray &out, char32_t codePoint)
{
    if (codePoint < 0x80) {
        out.append(char(codePoint));
    } else if (codePoint < 0x800) {
        out.append(char(0xC0 | (codePoint >> 6)));
        out.append(char(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.append(char(0xE0 | (codePoint >> 12)));
        out.append(char(0x80 | ((codePoint >> 6) & 0x3F)));
        out.append(char(0x80 | (codePoint & 0x3F)));
    } else {
        out.append(char(0xF0 | (codePoint >> 18)));
        out.append(char(0x80 | ((codePoint >> 12) & 0x3F)));
        out.append(char(0x80 | ((codePoint >> 6) & 0x3F)));
        out.append(char(0x80 | (codePoint & 0x3F)));
    }
}

} // namespace

QByteArray encodedPath(const QString &path)
{
    QByteArray out;
    out.reserve(path.size() * 3);
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t unit = path[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < path.size() && QChar::isLowSurrogate(path[i + 1].unicode())) {
            appendUtf8(out, QChar::surrogateToUcs4(unit, path[i + 1].unicode()));
            ++i;
        } else if (isEscape(unit)) {
            out.append(char(unit - 0xDC00));
        } else if (QChar::isSurrogate(unit)) {
            appendUtf8(out, QChar::ReplacementCharacter); // no name of ours holds one
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

QByteArray fileUrlBytes(const QString &path)
{
    return "file://" + encodedPath(path).toPercentEncoding("/");
}

QString decodedPath(const QByteArray &native)
{
    QString out;
    out.reserve(native.size());
    for (qsizetype at = 0; at < native.size();) {
        char32_t codePoint = 0;
        const int length = sequenceAt(native, at, codePoint);
        if (length == 0) {
            out.append(QChar(char16_t(0xDC00 + static_cast<unsigned char>(native[at]))));
            ++at;
            continue;
        }
        if (QChar::requiresSurrogates(codePoint)) {
            out.append(QChar(QChar::highSurrogate(codePoint)));
            out.append(QChar(QChar::lowSurrogate(codePoint)));
        } else {
            out.append(QChar(char16_t(codePoint)));
        }
        at += length;
    }
    return out;
}

bool hasUndecodedBytes(const QString &path)
{
    return std::any_of(path.cbegin(), path.cend(), [](QChar c) { return isEscape(c.unicode()); });
}

QString displayedPath(const QString &path)
{
    if (!hasUndecodedBytes(path))
        return path;
    QString shown = path;
    for (QChar &c : shown) {
        if (isEscape(c.unicode()))
            c = QChar::ReplacementCharacter;
    }
    return shown;
}

} // namespace tampod
