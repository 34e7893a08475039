// Inspecting one file the walk took up, and admitting it as one of the four kinds of record.

#include "import/internal/import_job.h"

#include "import/audio_source_format_reader.h"
#include "import/internal/import_texts.h"
#include "import/internal/sd2_native_import.h"
#include "import/tempo_metadata.h"
#include "library/rex_error.h"
#include "library/sd2_identification.h"
#include "platform/audio_file_error.h"
#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_metadata_reader.h"
#include "sd2/sd2_recovery_error.h"
#include "sd2/sd2_recovery_service.h"

#include "concurrency/detached.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace tampod {

namespace {

// A read of the file the system failed (a bad sector, a share that went away): the file could not
// be read, whatever its encoding.
bool readFailed(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const AudioFileError &audio) {
        return audio.kind() == AudioFileError::Kind::io;
    } catch (const SystemError &) {
        return true;
    } catch (...) {
        return false;
    }
}

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
    const auto isAudio = [](const QString &name) { return name.startsWith(QLatin1String("audio/")); };
    const QStringList ancestors = type.allAncestors();
    const bool audio = type.isValid() && (isAudio(type.name()) || std::any_of(ancestors.cbegin(), ancestors.cend(), isAudio));
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

void ImportJob::inspect(const QStringList &paths, const Lease &lease, bool folderFiles)
{
    // A window of files at a time bounds what waits to be admitted.
    constexpr qsizetype window = 256;
    for (qsizetype first = 0; first < paths.size(); first += window) {
        std::vector<Probe> files;
        std::vector<bool> known; // already in the library or met before in this import
        for (qsizetype i = first; i < std::min(paths.size(), first + window); ++i) {
            Probe file;
            file.path = paths[i];
            file.name = fileName(file.path);
            file.resolved = QUrl::fromLocalFile(resolvedPath(file.path).value_or(QDir::cleanPath(file.path)));
            known.push_back(seen_.contains(file.resolved));
            seen_.insert(file.resolved);
            if (known.back())
                continue;
            file.extension = QFileInfo(file.name).suffix().toLower();
            file.isREX = REXDecoder::extensions().contains(file.extension);
            file.listed = AudioImporter::audioExtensions().contains(file.extension) || conformsToAudio(file.extension);
            files.push_back(std::move(file));
        }
        // Each file is looked at by one pool task; the tasks share the work as they finish.
        std::atomic<std::size_t> next{0};
        const int tasks = int(std::min<std::size_t>(files.size(), std::size_t(std::max(1, QThread::idealThreadCount()))));
        std::vector<Async<void>> running;
        for (int t = 0; t < tasks; ++t)
            running.push_back(runDetached(TaskPriority::UserInitiated, [this, &files, &next] {
                for (std::size_t i; (i = next++) < files.size();)
                    probe(files[i]);
            }));
        for (Async<void> &task : running)
            task.wait();

        // In order; a file met twice is skipped the second time without a word.
        auto file = files.begin();
        for (const bool skipped : known) {
            if (folderFiles)
                token_.throwIfCancelled();
            if (!skipped)
                admit(*file++, lease);
        }
    }
}

void ImportJob::probe(Probe &file) const
{
    using Verdict = Probe::Verdict;
    try {
        file.sd2Candidate = !file.isREX
                            && (SD2Identification::hasLegacyName(file.resolved)
                                || SD2MetadataReader::hasResourceStorage(file.resolved));
        if (!file.listed && !file.sd2Candidate) {
            file.verdict = Verdict::unrecognized;
            return;
        }
        const auto [regular, size] = regularFileSize(file.path);
        if (!regular || size < 1) {
            file.verdict = Verdict::notRegular;
            return;
        }
        if (file.isREX) {
            file.verdict = Verdict::rex;
            return;
        }
        file.native = services_.openNative(file.path, token_);
        file.verdict = Verdict::decoded;
        if (!file.native.playable)
            return;
        TempoMetadata::Known known;
        if (file.resolved.toLocalFile() == file.path)
            known.sd2Storage = file.sd2Candidate; // the same test of the same name
        known.demuxerTags = std::move(file.native.demuxerTags);
        file.bpm = TempoMetadata::read(QUrl::fromLocalFile(file.path), token_, known);
        if (file.sd2Candidate)
            file.check = SD2NativeImport::inspect(file.resolved, services_.forks);
        else if (file.extension == QLatin1String("flac"))
            file.format = AudioSourceFormatReader::read(file.resolved); // its own header states the depth
        else
            file.format = AudioSourceFormat::fromFileFormat(file.native.format);
    } catch (...) {
        file.verdict = Verdict::failed;
        file.error = std::current_exception();
    }
}

void ImportJob::admit(Probe &file, const Lease &lease)
{
    using Verdict = Probe::Verdict;
    switch (file.verdict) {
    case Verdict::unrecognized:
        return refuse(file.name, ImportText::notRecognized);
    case Verdict::notRegular:
        return refuse(file.name, ImportText::notRegular);
    case Verdict::failed:
        return failed(file, file.error, lease);
    case Verdict::rex:
        try {
            const REXAudioPointer loop = services_.rex->prepare(file.resolved, token_).wait();
            token_.throwIfCancelled();
            AudioTrack track = newRecord(file.resolved, lease);
            const REXInfo &info = loop->info();
            track.duration = double(info.frames()) / info.sampleRate;
            track.bpm = info.originalTempo / 1000.0;
            track.importedFormat = {double(info.sampleRate), AudioSourceFormat::Resolution::integer(info.bitDepth),
                                    false};
            track.rexAudio = loop;
            result_.tracks.append(std::move(track));
        } catch (...) {
            failed(file, std::current_exception(), lease);
        }
        return;
    case Verdict::decoded:
        break;
    }
    if (!file.native.playable) {
        if (!admitSD2(file.resolved, lease))
            refuse(file.name, ImportText::notPlayable);
        return;
    }
    AudioTrack track = newRecord(file.resolved, lease);
    track.duration = file.native.duration;
    track.bpm = file.bpm;
    if (file.check) {
        track.importedFormat = file.check->format;
        track.sd2Format = file.check->metadata;
        track.sd2MetadataNote = file.check->note;
    } else {
        track.importedFormat = file.format;
    }
    result_.tracks.append(std::move(track));
}

// Error handling of one file, in the order of its tests.
void ImportJob::failed(const Probe &file, const std::exception_ptr &error, const Lease &lease)
{
    try {
        std::rethrow_exception(error);
    } catch (const Cancelled &) {
        throw;
    } catch (const REXError &rexError) {
        refuse(file.name, rexError.message());
    } catch (...) {
        if (file.isREX)
            refuse(file.name, ImportText::rexUnreadable);
        else if (!admitSD2(file.resolved, lease))
            refuse(file.name, isReadable(file.path) && !readFailed(error) ? ImportText::nativeCannotOpen
                                                                          : ImportText::cannotRead);
    }
}

bool ImportJob::admitSD2(const QUrl &resolved, const Lease &lease)
{
    if (!SD2Identification::hasLegacyName(resolved) && !SD2MetadataReader::hasResourceStorage(resolved))
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
