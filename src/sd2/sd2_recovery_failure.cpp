#include "sd2/sd2_recovery_failure.h"

#include "core/number_text.h"
#include "files/access/missing_audio_source.h"
#include "files/access/source_access_failure.h"
#include "sd2/sd2_recovery_error.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace tampod {

namespace {

QString number(std::int64_t value)
{
    return NumberText::wholeQ(value);
}

QString bitsText(int sampleBytes)
{
    return number(std::int64_t(sampleBytes) * 8);
}

struct Reason {
    QString lead;
    QString detail;
};

// The domain and code an error reports: ours carry both; anything else is named by its type.
std::pair<QString, std::int64_t> domainAndCode(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const Error &e) {
        return {e.domain(), e.code()};
    } catch (const std::exception &e) {
        int status = 0;
        const std::unique_ptr<char, decltype(&std::free)> name(
            abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status), &std::free);
        return {QString::fromUtf8(status == 0 && name ? name.get() : typeid(e).name()), 1};
    } catch (...) {
    }
    return {QStringLiteral("unknown"), 1};
}

Reason recoveryReason(const SD2RecoveryError &error, int sampleBytes)
{
    switch (error.which()) {
    case SD2RecoveryError::Case::incompleteFrame: {
        // A frame size of zero or less never comes from the service; it must not divide.
        const std::uint64_t remainder =
            error.frameBytes() > 0 ? error.bytes() % std::uint64_t(error.frameBytes()) : error.bytes();
        return {QStringLiteral("This file can’t be played using the selected ") + bitsText(sampleBytes) +
                    QStringLiteral("-bit setting with the current channel choice. Try another bit depth or "
                                   "choose a different format in File > Advanced SD2 Recovery…."),
                QStringLiteral("The audio data contains ") + QString::number(error.bytes()) +
                    QStringLiteral(" bytes. Each frame at this setting requires ") + number(error.frameBytes()) +
                    QStringLiteral(" bytes. Dividing the data into frames leaves ") + QString::number(remainder) +
                    (remainder == 1 ? QStringLiteral(" extra byte") : QStringLiteral(" extra bytes")) +
                    QStringLiteral(", so the last frame is incomplete. tamPOD does not discard or add bytes to "
                                   "make it fit. This mismatch does not establish the original recording "
                                   "format.")};
    }
    case SD2RecoveryError::Case::unsuitable:
        return {QStringLiteral("tamPOD can’t prepare this file with these recovery settings. Try reopening the "
                               "original file or choosing another format in File > Advanced SD2 Recovery…."),
                QStringLiteral("The file did not meet the missing-metadata recovery requirements: an eligible "
                               "regular file with no usable resource parameters, nonempty audio and a supported "
                               "size.")};
    case SD2RecoveryError::Case::changed:
        return {QStringLiteral("tamPOD couldn’t finish reading this file. Reopen the original file and try "
                               "again."),
                QStringLiteral("The source changed, became ineligible for missing-metadata recovery, or could "
                               "not be read completely during preparation.")};
    case SD2RecoveryError::Case::verification:
        break;
    }
    return {QStringLiteral("tamPOD couldn’t create a reliable listening copy. Try different recovery settings "
                           "or another copy of the original file."),
            QStringLiteral("The prepared WAV did not pass saved-PCM readback, file-length, format, sample-rate, "
                           "channel-count or frame-count verification. It was not accepted for playback. These "
                           "checks verify the listening copy, not the original recording parameters.")};
}

Reason reasonFor(const std::exception_ptr &error, int sampleBytes)
{
    if (errorIs<MissingAudioSource>(error) || errorIs<SourceAccessFailure>(error))
        return {MissingAudioSource::message(error).value_or(QStringLiteral("The original file is unavailable.")),
                QStringLiteral("The original source could not be reopened. No new interpretation was accepted; "
                               "changing bit depth does not restore access.")};
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const SD2RecoveryError &e) {
        return recoveryReason(e, sampleBytes);
    } catch (...) {
    }
    const auto [domain, code] = domainAndCode(error);
    return {QStringLiteral("tamPOD couldn’t create a listening copy. Check that the file is available and your "
                           "disk has free space, then try again."),
            QStringLiteral("Preparation failed (") + domain + QStringLiteral(", code ") + number(code) +
                QStringLiteral("). No unverified copy was accepted.")};
}

} // namespace

SD2RecoveryFailure::SD2RecoveryFailure(const std::exception_ptr &error, const SD2Metadata &parameters,
                                       const std::optional<SD2Metadata> &previous)
    : title(QStringLiteral("Couldn’t Prepare Audio"))
{
    const Reason reason = reasonFor(error, parameters.sampleBytes);
    message = reason.lead + QStringLiteral("\n\n");
    if (previous)
        message += QStringLiteral("Your previous ") + bitsText(previous->sampleBytes) +
                   QStringLiteral("-bit listening settings are still available.\n\n");
    message += QStringLiteral("Your original file has not been changed.");
    technicalExplanation =
        QStringLiteral("Attempted interpretation: signed ") + bitsText(parameters.sampleBytes) +
        QStringLiteral("-bit big-endian PCM, ") + number(parameters.sampleRate) + QStringLiteral(" Hz, ") +
        (parameters.channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo")) + QStringLiteral(".\n\n") +
        reason.detail +
        QStringLiteral("\n\nSupported recovery: signed 8/16/24/32-bit big-endian PCM; mono or interleaved stereo; "
                       "whole-number sample rates from 8000–192000 Hz; audio below the approximately 4 GB "
                       "working-copy limit. A frame contains one sample per channel. Recovery interprets existing "
                       "bytes and does not reconstruct missing audio or metadata.");
}

} // namespace tampod
