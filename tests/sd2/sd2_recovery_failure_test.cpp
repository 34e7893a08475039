#include "core/error.h"
#include "files/access/source_access_failure.h"
#include "sd2/sd2_recovery_error.h"
#include "sd2/sd2_recovery_failure.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace tampod;

namespace {

template <typename E>
std::exception_ptr pointer(E error)
{
    return std::make_exception_ptr(std::move(error));
}

const QString supported = QStringLiteral(
    "\n\nSupported recovery: signed 8/16/24/32-bit big-endian PCM; mono or interleaved stereo; whole-number sample "
    "rates from 8000–192000 Hz; audio below the approximately 4 GB working-copy limit. A frame contains one sample "
    "per channel. Recovery interprets existing bytes and does not reconstruct missing audio or metadata.");

} // namespace

TEST(SD2RecoveryFailure, MessageNamesThePreviousSettingsOnlyWhenACopyStays)
{
    const SD2Metadata stereo16{2, 44100, 2, {}, {}};
    const SD2RecoveryFailure kept(pointer(SD2RecoveryError::incompleteFrame(7, 4)), stereo16, stereo16);
    const QString lead = QStringLiteral(
        "This file can’t be played using the selected 16-bit setting with the current channel choice. Try another "
        "bit depth or choose a different format in File > Advanced SD2 Recovery….");
    EXPECT_EQ(kept.title, QStringLiteral("Couldn’t Prepare Audio"));
    EXPECT_EQ(kept.message, lead + "\n\nYour previous 16-bit listening settings are still available.\n\n"
                                   "Your original file has not been changed.");
    EXPECT_EQ(kept.technicalExplanation,
              "Attempted interpretation: signed 16-bit big-endian PCM, 44100 Hz, stereo.\n\nThe audio data contains 7 "
              "bytes. Each frame at this setting requires 4 bytes. Dividing the data into frames leaves 3 extra "
              "bytes, so the last frame is incomplete. tamPOD does not discard or add bytes to make it fit. This "
              "mismatch does not establish the original recording format." + supported);
    const SD2RecoveryFailure alone(pointer(SD2RecoveryError::incompleteFrame(5, 4)), stereo16, std::nullopt);
    EXPECT_EQ(alone.message, lead + "\n\nYour original file has not been changed.");
    EXPECT_TRUE(alone.technicalExplanation.contains("leaves 1 extra byte, so"));
}

TEST(SD2RecoveryFailure, EveryKindOfErrorGivesAllThreeTexts)
{
    struct Case {
        std::exception_ptr error;
        int channels;
        QString interpretation, lead, detail;
    };
    const std::vector<Case> cases{
        {pointer(SourceAccessFailure::denied()), 1, "signed 24-bit big-endian PCM, 8000 Hz, mono.",
         SourceAccessFailure::denied().message(), "The original source could not be reopened."},
        {pointer(Cancelled()), 2, "signed 24-bit big-endian PCM, 8000 Hz, stereo.",
         "tamPOD couldn’t create a listening copy. Check that the file is available and your disk has free space, "
         "then try again.",
         "Preparation failed (tampod.cancelled, code 1). No unverified copy was accepted."},
        {pointer(SystemError(28, "write")), 3, "stereo.", "tamPOD couldn’t create", "(tampod.posix, code 28)."},
        {pointer(std::runtime_error("odd")), 0, "stereo.", "tamPOD couldn’t create", "(std::runtime_error, code 1)."},
        {std::make_exception_ptr(7), 2, "stereo.", "tamPOD couldn’t create", "(unknown, code 1)."},
        {nullptr, 2, "stereo.", "tamPOD couldn’t create", "(unknown, code 1)."},
        // A frame size of zero never comes from the service; it must not divide by zero.
        {pointer(SD2RecoveryError::incompleteFrame(9, 0)), 2, "stereo.",
         "This file can’t be played using the selected 24-bit setting", "leaves 9 extra bytes"},
    };
    for (const Case &c : cases) {
        const SD2RecoveryFailure failure(c.error, SD2Metadata{3, 8000, c.channels, {}, {}}, std::nullopt);
        SCOPED_TRACE(failure.technicalExplanation.toStdString());
        EXPECT_TRUE(failure.message.startsWith(c.lead));
        EXPECT_TRUE(failure.message.endsWith("\n\nYour original file has not been changed."));
        EXPECT_TRUE(failure.technicalExplanation.startsWith("Attempted interpretation: signed 24-bit big-endian PCM, 8000 Hz, "));
        EXPECT_TRUE(failure.technicalExplanation.contains(c.interpretation + "\n\n"));
        EXPECT_TRUE(failure.technicalExplanation.contains(c.detail));
        EXPECT_TRUE(failure.technicalExplanation.endsWith(supported));
    }
}
