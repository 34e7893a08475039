#pragma once

#include "concurrency/cancellation.h"
#include "export/pcm_output_format.h"
#include "platform/forks/fork_store.h"

#include <QString>

#include <cstdint>

// The read-back of a staged PCM export by a reader independent of its writer.
namespace tampod::ExportVerification {

// Reopens the file with the decoder (which describes every stream itself, never through the
// library that wrote it; an SD2 data fork is decoded as raw big-endian PCM with the parameters
// its resource fork gives) and returns its length. Passes only an integer PCM stream in the
// expected container, rate, channels, bits and signedness, at least one frame long and within
// tolerance of frames; otherwise AudioExportError verificationFailed. Failing to open or
// measure it is native "verifying output" or "reading audio properties".
std::int64_t verifyPCM(const QString &path, const PCMOutputFormat &expected, double frames, double tolerance,
                       const ForkStore &forks, const CancellationToken &token);

} // namespace tampod::ExportVerification
