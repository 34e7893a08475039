// The RIFF/WAVE and FORM/AIFF chunk walks (ID3 chunks, "acid", LIST/INFO) and the MP3 tag
// reader over an arbitrary file, held in an in-memory file so that no disk is touched.
#include "tags/container_tempo_reader.h"
#include "tags/mp3_tempo_metadata.h"
#include "tags/wav_tempo_reader.h"

#include "memory_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const QString path = fuzz::memoryFile(data, size);
    tampod::ContainerTempoReader::read(path, false);
    tampod::ContainerTempoReader::read(path, true);
    tampod::WAVTempoReader::read(path, false);
    tampod::WAVTempoReader::read(path, true);
    tampod::MP3TempoMetadata::read(path);
    return 0;
}
