#include "import/tempo_metadata.h"

#include "library/sd2_identification.h"
#include "platform/decode/media_tag_reader.h"
#include "sd2/sd2_metadata_reader.h"
#include "tags/container_tempo_reader.h"
#include "tags/flac_tempo_metadata.h"
#include "tags/m4a_tempo_metadata.h"
#include "tags/mp3_tempo_metadata.h"
#include "tags/tempo_model.h"
#include "tags/wav_tempo_reader.h"

#include <QStringList>

namespace tampod::TempoMetadata {

namespace {

const QStringList wavAndAiff{"wav", "wave", "bwf", "aif", "aiff", "aifc"};
const QStringList wavOnly{"wav", "wave", "bwf"};

// The lowercased text after the last dot of the name; a leading dot starts a hidden name.
QString extensionOf(const QUrl &url)
{
    const QString name = url.fileName(QUrl::FullyDecoded);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.mid(dot + 1).toLower() : QString();
}

std::optional<double> fromSD2(const QUrl &url)
{
    if (!SD2Identification::hasLegacyName(url) && !SD2Identification::hasResourceStorage(url))
        return std::nullopt;
    try {
        if (const auto metadata = SD2MetadataReader::read(url))
            return metadata->bpm;
    } catch (...) {
    }
    return std::nullopt;
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

std::optional<double> fromMediaTags(const QString &path, const CancellationToken &token)
{
    try {
        for (const auto &place : MediaTagReader::read(path, token)) {
            for (const auto &tag : place) {
                if (!isTempoKey(tag.key))
                    continue;
                // Demuxer tags are text only: the number rule decides, with nothing trimmed.
                const auto value = TempoModel::parse(tag.value);
                if (value && TempoModel::isUsable(*value))
                    return value;
            }
        }
    } catch (...) {
    }
    return std::nullopt;
}

} // namespace

std::optional<double> read(const QUrl &url, const CancellationToken &token)
{
    if (!url.isLocalFile())
        return std::nullopt;
    const CurrentCancellation::Scope scope(token);
    const QString path = url.toLocalFile();
    const QString extension = extensionOf(url);

    std::optional<double> tempo;
    if (extension == u"mp3")
        tempo = MP3TempoMetadata::read(path);
    else if (extension == u"flac")
        tempo = FLACTempoMetadata::read(path);
    else if (extension == u"m4a")
        tempo = M4ATempoMetadata::read(path);
    if (!tempo && wavAndAiff.contains(extension))
        tempo = ContainerTempoReader::read(path, true);
    if (!tempo && wavOnly.contains(extension))
        tempo = WAVTempoReader::read(path, false);
    if (!tempo && wavAndAiff.contains(extension))
        tempo = ContainerTempoReader::read(path, false);
    if (!tempo && wavOnly.contains(extension))
        tempo = WAVTempoReader::read(path, true);
    if (!tempo)
        tempo = fromSD2(url);
    if (!tempo)
        tempo = fromMediaTags(path, token);
    return tempo;
}

} // namespace tampod::TempoMetadata
