#include "import/tempo_metadata.h"

#include "core/file_handle.h"
#include "library/sd2_identification.h"
#include "platform/decode/media_tag_reader.h"
#include "sd2/sd2_metadata_reader.h"
#include "tags/container_tempo_reader.h"
#include "tags/flac_tempo_metadata.h"
#include "tags/m4a_tempo_metadata.h"
#include "tags/mp3_tempo_metadata.h"
#include "tags/read_or_none.h"
#include "tags/tempo_model.h"
#include "tags/wav_tempo_reader.h"

#include <initializer_list>

namespace tampod::TempoMetadata {

namespace {

// The places a tempo is looked for, each a reader that throws nothing but Cancelled.
enum class Step {
    id3AtStart,    // MP3: the tag at the start, a lone TBPM counting
    flacComments,
    m4aItems,
    id3Paired,     // WAV/AIFF: an ID3 chunk whose TBPM and precise value agree
    acid,
    id3Chunk,      // WAV/AIFF: an ID3 chunk's TBPM alone
    infoText,      // WAV: LIST/INFO "IBPM"
    sd2Resources,  // a legacy SD2 name or resource storage: the SD2 resource metadata
    demuxerTags,   // last resort: the generic tags of the media demuxer
};

struct Row {
    std::initializer_list<const char *> extensions;
    std::initializer_list<Step> steps;
};

// The order in which stored tempos are believed, by lowercased extension. A file of a format we
// read ourselves is opened once and that descriptor serves all of its own steps. Whatever the
// format, SD2 resource metadata comes before the demuxer's tags; asking for it opens nothing
// unless the name or a companion or fork says it is there.
const Row table[] = {
    {{"mp3"}, {Step::id3AtStart, Step::sd2Resources, Step::demuxerTags}},
    {{"flac"}, {Step::flacComments, Step::sd2Resources, Step::demuxerTags}},
    {{"m4a"}, {Step::m4aItems, Step::sd2Resources, Step::demuxerTags}},
    {{"wav", "wave", "bwf"},
     {Step::id3Paired, Step::acid, Step::id3Chunk, Step::infoText, Step::sd2Resources,
      Step::demuxerTags}},
    {{"aif", "aiff", "aifc"}, {Step::id3Paired, Step::id3Chunk, Step::sd2Resources, Step::demuxerTags}},
};
constexpr std::initializer_list<Step> otherFiles{Step::sd2Resources, Step::demuxerTags};

// The lowercased text after the last dot of the name; a leading dot starts a hidden name.
QString extensionOf(const QUrl &url)
{
    const QString name = url.fileName(QUrl::FullyDecoded);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.mid(dot + 1).toLower() : QString();
}

const Row *rowOf(const QString &extension)
{
    for (const Row &row : table) {
        for (const char *candidate : row.extensions) {
            if (extension == QLatin1String(candidate))
                return &row;
        }
    }
    return nullptr;
}

std::optional<double> fromSD2(const QUrl &url, const Known &known)
{
    if (!known.sd2Storage.value_or(SD2Identification::hasLegacyName(url) || SD2MetadataReader::hasResourceStorage(url)))
        return std::nullopt;
    return readOrNone([&url]() -> std::optional<double> {
        const auto metadata = SD2MetadataReader::read(url);
        return metadata ? metadata->bpm : std::nullopt;
    });
}

bool isTempoKey(const QString &key)
{
    const QString lower = key.toLower();
    // The precise text of our ID3 and comment tags must not be believed here without the
    // standard value it pairs with; the container readers have already judged it.
    if (lower == u"tampod_bpm")
        return false;
    return lower.contains(u"tbpm") || lower.contains(u"tmpo") || lower.contains(u"bpm");
}

std::optional<double> fromMediaTags(const QString &path, const CancellationToken &token, const Known &known)
{
    return readOrNone([&path, &token, &known]() -> std::optional<double> {
        for (const auto &place : known.demuxerTags ? *known.demuxerTags : MediaTagReader::read(path, token)) {
            for (const auto &tag : place) {
                if (!isTempoKey(tag.key))
                    continue;
                // Demuxer tags are text only: the number rule decides, with nothing trimmed.
                const auto value = TempoModel::parse(tag.value);
                if (value && TempoModel::isUsable(*value))
                    return value;
            }
        }
        return std::nullopt;
    });
}

std::optional<double> run(Step step, const FileHandle &file, const QUrl &url, const CancellationToken &token,
                          const Known &known)
{
    switch (step) {
    case Step::id3AtStart:
        return MP3TempoMetadata::read(file);
    case Step::flacComments:
        return FLACTempoMetadata::read(file);
    case Step::m4aItems:
        return M4ATempoMetadata::read(file);
    case Step::id3Paired:
        return ContainerTempoReader::read(file, true);
    case Step::acid:
        return WAVTempoReader::read(file, false);
    case Step::id3Chunk:
        return ContainerTempoReader::read(file, false);
    case Step::infoText:
        return WAVTempoReader::read(file, true);
    case Step::sd2Resources:
        return fromSD2(url, known);
    case Step::demuxerTags:
        return fromMediaTags(url.toLocalFile(), token, known);
    }
    return std::nullopt;
}

} // namespace

std::optional<double> read(const QUrl &url, const CancellationToken &token)
{
    return read(url, token, Known{});
}

std::optional<double> read(const QUrl &url, const CancellationToken &token, const Known &known)
{
    if (!url.isLocalFile())
        return std::nullopt;
    const CurrentCancellation::Scope scope(token);
    const Row *row = rowOf(extensionOf(url));
    FileHandle file;
    if (row) {
        // What cannot be opened as a regular file (missing, a FIFO, a folder) no later step can
        // read either.
        try {
            file = FileHandle::openOutside(url.toLocalFile());
        } catch (...) {
            return std::nullopt;
        }
    }
    for (const Step step : row ? row->steps : otherFiles) {
        token.throwIfCancelled();
        if (const auto tempo = run(step, file, url, token, known))
            return tempo;
    }
    return std::nullopt;
}

} // namespace tampod::TempoMetadata
