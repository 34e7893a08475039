#pragma once

#include "platform/forks/fork_store.h"

#include <QByteArray>
#include <QUrl>

#include <cstdint>
#include <optional>

// Writing SD2 resources into the classic resource-fork layout that SD2MetadataReader reads.
namespace tampod::SD2ResourceFork {

// The fork of a new SD2 file: the parameter texts 'STR ' 1000 (bytes per sample), 1001 (rate)
// and 1002 (channels), named "sample-size", "sample-rate" and "channels" as other readers
// look them up.
QByteArray parameters(int sampleBytes, int sampleRate, int channels);

// fork with one more resource of a type it does not have yet, placed after every existing type
// and reference; the prefix, data area and map are laid out anew (header, prefix, data, map).
// The fork's parse errors pass through; AudioExportError tempoMetadata when the type is already
// there, the fork holds 256 types, or the name list would move past 65,535.
QByteArray adding(std::uint32_t type, int id, const QByteArray &payload, const QByteArray &fork);

} // namespace tampod::SD2ResourceFork

// The tempo of an exported SD2 file: always the precise text 'sBPM' 128 ("tamPOD_BPM=" and the
// shortest text of the tempo), and the 'sdDD' 1000 document record when the tempo fits its
// 16.16 word. The file's parameters must read back unchanged and the tempos as written.
namespace tampod::SD2TempoMetadata {

// The fork with both tempo resources added. AudioExportError tempoMetadata for an unusable
// tempo, a fork that cannot take them or one that reads back otherwise; parse errors pass.
QByteArray adding(double bpm, const QByteArray &fork);

// Adds the tempo resources to the fork of the SD2 file at url, in place. No usable tempo
// writes nothing. A fork past 4 MiB is tempoMetadata; the store's errors pass through
// (ForkStoreError, SystemError), and so do the fork's parse errors.
void write(std::optional<double> bpm, const QUrl &url, const ForkStore &forks = ForkStore());

} // namespace tampod::SD2TempoMetadata
