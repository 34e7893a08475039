#pragma once

#include "concurrency/cancellation.h"
#include "platform/decode/audio_file_reader.h"

#include <QString>

#include <optional>

// The stereo file of a separate-mono audition: the two channel files the export wrote, in
// whatever format it wrote them, decoded and interleaved into one 24-bit WAV to hear.
namespace tampod::PreviewChannelJoin {

// raw: the parameters of channel files that cannot describe themselves (SD2 data forks);
// absent, each file is read as it describes itself. Both channels must be mono with the same
// rate and length, else AudioExportError verificationFailed; tooLarge where the WAV could not
// hold them. The reader's and writer's errors and Cancelled pass through; the destination is
// gone after any failure.
void join(const QString &left, const QString &right, const std::optional<AudioFileReader::RawPCMFormat> &raw,
          const QString &destination, const CancellationToken &token);

} // namespace tampod::PreviewChannelJoin
