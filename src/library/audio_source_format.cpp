#include "library/audio_source_format.h"

#include "core/number_text.h"

#include <QLocale>

#include <cmath>

namespace tampod {

namespace {

const QString emDash = QStringLiteral("\u2014");

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

AudioSourceFormat AudioSourceFormat::fromFileFormat(const AudioFileFormat &f)
{
    AudioSourceFormat format;
    if (std::isfinite(f.sampleRate) && f.sampleRate > 0)
        format.sampleRate = f.sampleRate;

    const int bits = f.bitsPerChannel;
    switch (f.codec) {
    case AudioCodecKind::aac:
    case AudioCodecKind::mpegLayer1:
    case AudioCodecKind::mpegLayer2:
    case AudioCodecKind::mpegLayer3:
    case AudioCodecKind::ac3:
    case AudioCodecKind::eac3:
    case AudioCodecKind::opus:
        format.resolution = Resolution::notApplicable();
        break;
    case AudioCodecKind::flac:
        if (bits > 0)
            format.resolution = Resolution::integer(bits);
        break;
    case AudioCodecKind::lpcm:
        if (bits > 0)
            format.resolution = f.isFloat ? Resolution::floatingPoint(bits) : Resolution::integer(bits);
        break;
    case AudioCodecKind::alac:
        // The encoder's source depth; anything but the four ALAC depths is not one.
        if (f.alacSourceBitDepth == 16 || f.alacSourceBitDepth == 20 || f.alacSourceBitDepth == 24 ||
            f.alacSourceBitDepth == 32)
            format.resolution = Resolution::integer(f.alacSourceBitDepth);
        break;
    case AudioCodecKind::vorbis:
    case AudioCodecKind::other:
        break;
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
