#include "files/access/source_access_failure.h"
#include "sd2/sd2_recovery_error.h"
#include "sd2/sd2_recovery_failure.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace tampod;

TEST(SD2RecoveryFailure, MessageNamesThePreviousSettingsOnlyWhenACopyStays)
{
    const SD2Metadata stereo16{2, 44100, 2, {}, {}};
    const SD2RecoveryFailure kept(std::make_exception_ptr(SD2RecoveryError::incompleteFrame(7, 4)), stereo16, stereo16);
    const QString lead = "This file can’t be played using the selected 16-bit setting with the current channel "
                         "choice. Try another bit depth or choose a different format in File > Advanced SD2 "
                         "Recovery….";
    EXPECT_EQ(kept.title, "Couldn’t Prepare Audio");
    EXPECT_EQ(kept.message, lead + "\n\nYour previous 16-bit listening settings are still available.\n\n"
                                   "Your original file has not been changed.");
    EXPECT_EQ(kept.technicalExplanation,
              "Attempted interpretation: signed 16-bit big-endian PCM, 44100 Hz, stereo.\n\nThe audio data contains 7 "
              "bytes. Each frame at this setting requires 4 bytes. Dividing the data into frames leaves 3 extra "
              "bytes, so the last frame is incomplete. tamPOD does not discard or add bytes to make it fit. This "
              "mismatch does not establish the original recording format.\n\nSupported recovery: signed "
              "8/16/24/32-bit big-endian PCM; mono or interleaved stereo; whole-number sample rates from "
              "8000–192000 Hz; audio below the approximately 4 GB working-copy limit. A frame contains one sample "
              "per channel. Recovery interprets existing bytes and does not reconstruct missing audio or metadata.");
    const SD2RecoveryFailure alone(std::make_exception_ptr(SD2RecoveryError::incompleteFrame(5, 4)), stereo16, {});
    EXPECT_EQ(alone.message, lead + "\n\nYour original file has not been changed.");
    EXPECT_TRUE(alone.technicalExplanation.contains("leaves 1 extra byte, so"));
}

TEST(SD2RecoveryFailure, OtherErrorsNameTheirDomainAndCode)
{
    const std::vector<std::tuple<std::exception_ptr, int, QString, QString>> cases{
        {std::make_exception_ptr(SourceAccessFailure::denied()), 1, SourceAccessFailure::denied().message(),
         "24-bit big-endian PCM, 8000 Hz, mono.\n\nThe original source could not be reopened. No new interpretation "
         "was accepted; changing bit depth does not restore access."},
        {std::make_exception_ptr(std::runtime_error("odd")), 0,
         "tamPOD couldn’t create a listening copy. Check that the file is available and your disk has free space, "
         "then try again.",
         "8000 Hz, stereo.\n\nPreparation failed (std::runtime_error, code 1). No unverified copy was accepted."},
        {std::make_exception_ptr(SystemError(28, "write")), 3, "tamPOD couldn’t create", "(tampod.posix, code 28)."},
    };
    for (const auto &[error, channels, lead, detail] : cases) {
        const SD2RecoveryFailure failure(error, SD2Metadata{3, 8000, channels, {}, {}}, std::nullopt);
        EXPECT_TRUE(failure.message.startsWith(lead)) << failure.message.toStdString();
        EXPECT_TRUE(failure.technicalExplanation.contains(detail)) << failure.technicalExplanation.toStdString();
    }
}
