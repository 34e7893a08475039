#pragma once

#include "export/export_defaults.h"
#include "platform/forks/fork_store.h"

#include <QUrl>

#include <optional>

// The check of a written SD2 file before it is published, reading it back as an importer
// would: its resource parameters and tempos must be exactly those of the export, its fork
// 1 byte to 4 MiB and its data fork a whole, non-zero number of frames.
namespace tampod::SD2ExportVerification {

// settings give the bit depth and rate; channels the written channel count; bpm the tempo given
// to the tempo writer. AudioExportError verificationFailed for any difference; the reader's
// SD2MetadataError and the file system's errors pass through.
void verify(const QUrl &url, const ExportDefaults &settings, int channels, std::optional<double> bpm,
            const ForkStore &forks = ForkStore());

} // namespace tampod::SD2ExportVerification
