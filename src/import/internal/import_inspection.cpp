// Inspecting one file the walk took up, and admitting it as one of the four kinds of record.

#include "import/internal/import_job.h"

#include "import/internal/import_texts.h"
#include "import/internal/sd2_native_import.h"
#include "import/tempo_metadata.h"
#include "library/rex_error.h"
#include "library/sd2_identification.h"
#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_metadata_reader.h"
#include "sd2/sd2_recovery_error.h"
#include "sd2/sd2_recovery_service.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>

#include <cerrno>

namespace tampod {

namespace {

QString fileName(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Whether the file at path is a regular file and its size; a link is not one. Other
// failures throw.
std::pair<bool, qint64> regularFileSize(const QString &path)
{
    try {
        const FileHandle file = FileHandle::openOutside(path, LinkPolicy::NoFollow);
        return {true, file.size()};
    } catch (const NotARegularFile &) {
        return {false, 0};
    } catch (const SystemError &error) {
        if (error.errnoValue() == ELOOP)
            return {false, 0};
        throw;
    }
}

} // namespace

bool ImportJob::conformsToAudio(const QString &extension)
{
    if (extension.isEmpty())
        return false;
    const auto known = audioTypes_.constFind(extension);
    if (known != audioTypes_.cend())
        return *known;
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(QStringLiteral("x.") + extension, QMimeDatabase::MatchExtension);
    bool audio = type.isValid() && type.name().startsWith(QLatin1String("audio/"));
    for (const QString &ancestor : type.allAncestors())
        audio = audio || ancestor.startsWith(QLatin1String("audio/"));
    audioTypes_.insert(extension, audio);
    return audio;
}

AudioTrack ImportJob::newRecord(const QUrl &resolved, const Lease &lease) const
{
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(resolved);
    track.access = lease;
    return track;
}

void ImportJob::inspect(const QString &path, const Lease &lease)
{
    const QString name = fileName(path);
    const QUrl resolved = QUrl::fromLocalFile(resolvedPath(path).value_or(QDir::cleanPath(path)));
    if (seen_.contains(resolved))
        return;
    seen_.insert(resolved);

    const QString extension = QFileInfo(name).suffix().toLower();
    const bool isREX = REXDecoder::extensions().contains(extension);
    std::optional<bool> candidate;
    const auto isSD2Candidate = [&] {
        if (!candidate)
            candidate = !isREX
                        && (SD2Identification::hasLegacyName(resolved) || SD2Identification::hasResourceStorage(resolved));
        return *candidate;
    };
    if (!AudioImporter::audioExtensions().contains(extension) && !conformsToAudio(extension) && !isSD2Candidate()) {
        refuse(name, ImportText::notRecognized);
        return;
    }

    try {
        const auto [regular, size] = regularFileSize(path);
        if (!regular || size < 1) {
            refuse(name, ImportText::notRegular);
            return;
        }
        if (isREX) {
            const REXAudioPointer loop = services_.rex->prepare(resolved, token_).wait();
            token_.throwIfCancelled();
            AudioTrack track = newRecord(resolved, lease);
            const REXInfo &info = loop->info();
            track.duration = double(info.frames()) / info.sampleRate;
            track.bpm = info.originalTempo / 1000.0;
            track.importedFormat = {double(info.sampleRate),
                                    AudioSourceFormat::Resolution::integer(info.bitDepth), false};
            track.rexAudio = loop;
            result_.tracks.append(std::move(track));
            return;
        }
        const NativeAudio native = services_.openNative(path, token_);
        if (!native.playable) {
            if (!admitSD2(resolved, lease))
                refuse(name, ImportText::notPlayable);
            return;
        }
        AudioTrack track = newRecord(resolved, lease);
        track.duration = native.duration;
        track.bpm = TempoMetadata::read(QUrl::fromLocalFile(path), token_);
        if (isSD2Candidate()) {
            SD2NativeImport::Result check = SD2NativeImport::inspect(resolved, services_.forks);
            track.importedFormat = check.format;
            track.sd2Format = check.metadata;
            track.sd2MetadataNote = check.note;
        } else if (extension == QLatin1String("flac")) {
            track.importedFormat = AudioSourceFormat::read(resolved); // its own header states the depth
        } else {
            track.importedFormat = AudioSourceFormat::fromFileFormat(native.format);
        }
        result_.tracks.append(std::move(track));
    } catch (const Cancelled &) {
        throw;
    } catch (const REXError &error) {
        refuse(name, error.message());
    } catch (const std::exception &) {
        if (isREX)
            refuse(name, ImportText::rexUnreadable);
        else if (!admitSD2(resolved, lease))
            refuse(name, QFileInfo(path).isReadable() ? ImportText::nativeCannotOpen : ImportText::cannotRead);
    }
}

bool ImportJob::admitSD2(const QUrl &resolved, const Lease &lease)
{
    if (!SD2Identification::hasLegacyName(resolved) && !SD2Identification::hasResourceStorage(resolved))
        return false;
    const QString name = fileName(resolved.toLocalFile());
    try {
        token_.throwIfCancelled();
        const std::optional<SD2Metadata> parameters = SD2MetadataReader::read(resolved, services_.forks);
        if (!parameters) {
            if (!SD2RecoveryService::eligible(resolved, services_.forks))
                return false;
            AudioTrack track = newRecord(resolved, lease);
            const int channels = SD2Identification::channelName(resolved) ? 1 : 2;
            track.recovery = SD2Recovery{nullptr, SD2Metadata{2, 44100, channels, std::nullopt, std::nullopt}};
            result_.tracks.append(std::move(track));
            return true;
        }

        AudioTrack provisional = newRecord(resolved, lease);
        provisional.bpm = parameters->bpm;
        SD2RecoveredCopyPointer copy;
        {
            SD2RecoveryService service(services_.store, services_.forks);
            copy = service.prepare(provisional, *parameters, {}, token_).wait();
        }
        if (SD2MetadataReader::read(resolved, services_.forks) != parameters)
            throw SD2RecoveryError::changed();
        if (!services_.openNative(copy->url().toLocalFile(), token_).playable)
            throw SD2RecoveryError::verification();
        token_.throwIfCancelled();

        AudioTrack track = std::move(provisional);
        track._url = TrackedFileURL(resolved);
        track.duration = double(copy->frames()) / copy->sampleRate();
        track.metadataAudio = SD2MetadataAudio{*parameters, copy};
        result_.tracks.append(std::move(track));
    } catch (const Cancelled &) {
        throw;
    } catch (const SD2MetadataError &error) {
        refuse(name, error.message());
    } catch (const std::exception &) {
        refuse(name, ImportText::sd2CopyFailed);
    }
    return true;
}

} // namespace tampod
