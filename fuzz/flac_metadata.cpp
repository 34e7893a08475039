// The FLAC metadata block list and Vorbis comment walks: reading, the stream format and the
// tagged copy over an arbitrary file. A copy that succeeds must read back its tempo.
#include "tags/flac_tempo_metadata.h"

#include "memory_file.h"

#include <QString>

namespace {

const QString &copyPath()
{
    static const QString path = [] {
        char folder[] = "/tmp/fuzz_flac_metadata.XXXXXX";
        if (!mkdtemp(folder))
            std::abort();
        return QString::fromLocal8Bit(folder) + QStringLiteral("/tagged.flac");
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const QString path = fuzz::memoryFile(data, size);
    tampod::FLACTempoMetadata::read(path);
    tampod::FLACTempoMetadata::sourceFormat(path);

    const QByteArray copy = copyPath().toLocal8Bit();
    unlink(copy.constData());
    bool copied = false;
    try {
        tampod::FLACTempoMetadata::copyTagging(120.5, path, copyPath());
        copied = true;
    } catch (...) {
    }
    if (copied && tampod::FLACTempoMetadata::read(copyPath()) != 120.5)
        std::abort();
    unlink(copy.constData());
    return 0;
}
