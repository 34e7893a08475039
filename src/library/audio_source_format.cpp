#include "library/audio_source_format.h"

#include "core/number_text.h"

#include <QLocale>

#include <climits>
#include <cmath>

namespace tampod {

namespace {

const QString emDash = QStringLiteral("\u2014");

// Bits from a file's description become a resolution only when they fit an int.
std::optional<int> bitCount(std::uint32_t bits)
{
    if (bits == 0 || bits > static_cast<std::uint32_t>(INT_MAX))
        return std::nullopt;
    return static_cast<int>(bits);
}

} // namespace

QString AudioSourceFormat::Resolution::text() const
{
    switch (kind_) {
    case Kind::integer:
        return NumberText::wholeQ(bits_) + QStringLiteral("-bit");
    case Kind::floatingPoint:
        return NumberText::wholeQ(bits_) + QStringLiteral("-bit float");
    case Kind::notApplicable:
        return QStringLiteral("N/A");
    case Kind::unknown:
        break;
    }
    return emDash;
}

AudioSourceFormat AudioSourceFormat::fromFileFormat(const StreamDescription &d)
{
    AudioSourceFormat format;
    if (std::isfinite(d.sampleRate) && d.sampleRate > 0)
        format.sampleRate = d.sampleRate;

    const std::uint32_t id = d.formatID;
    const auto bits = bitCount(d.bitsPerChannel);
    if (id == fourCC("aac ") || id == fourCC("aach") || id == fourCC("aacl") || id == fourCC("aace") ||
        id == fourCC("aacp") || id == fourCC(".mp1") || id == fourCC(".mp2") || id == fourCC(".mp3") ||
        id == fourCC("ac-3") || id == fourCC("ec-3") || id == fourCC("opus")) {
        format.resolution = Resolution::notApplicable();
    } else if (id == fourCC("flac")) {
        format.resolution = bits ? Resolution::integer(*bits) : Resolution::unknown();
    } else if (id == fourCC("lpcm")) {
        if (bits)
            format.resolution = (d.formatFlags & floatFlag) ? Resolution::floatingPoint(*bits)
                                                             : Resolution::integer(*bits);
    } else if (id == fourCC("alac")) {
        switch (d.formatFlags) {
        case 1: format.resolution = Resolution::integer(16); break;
        case 2: format.resolution = Resolution::integer(20); break;
        case 3: format.resolution = Resolution::integer(24); break;
        case 4: format.resolution = Resolution::integer(32); break;
        default: break;
        }
    }
    return format;
}

QString AudioSourceFormat::sampleRateText() const
{
    if (!sampleRate || !std::isfinite(*sampleRate) || *sampleRate <= 0)
        return emDash;
    const QLocale locale;
    QString text = locale.toString(*sampleRate / 1000.0, 'f', 6);
    // Drop trailing zeros of the fraction, and the separator when nothing is left after it.
    const QString point = locale.decimalPoint();
    const qsizetype pointAt = text.lastIndexOf(point);
    if (pointAt >= 0) {
        const QString zero = locale.zeroDigit();
        while (text.size() > pointAt + point.size() && text.endsWith(zero))
            text.chop(zero.size());
        if (text.size() == pointAt + point.size())
            text.chop(point.size());
    }
    text += QStringLiteral(" kHz");
    if (assumed)
        text += QLatin1Char('*');
    return text;
}

QString AudioSourceFormat::summary() const
{
    QString text = sampleRateText() + QStringLiteral(", ") + resolution.text();
    if (assumed)
        text += QLatin1Char('*');
    if (resolution.kind() == Resolution::Kind::notApplicable)
        text += QStringLiteral("; this encoding has no fixed PCM bit depth");
    if (assumed)
        text += QStringLiteral("; * assumed SD2 recovery format");
    return text;
}

} // namespace tampod
