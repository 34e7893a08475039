#include "files/journal/split_export_transaction.h"

#include "files/internal/file_location.h"
#include "files/internal/file_status.h"
#include "files/journal/audio_export_error.h"
#include "files/journal/split_export_file_safety.h"
#include "files/store/internal/temporary_audio_status.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tampod {

namespace {

[[noreturn]] void fail(int code, const char *operation)
{
    throw SystemError(code, QString::fromLatin1(operation));
}

} // namespace

StrictJson::Json SplitExportTransaction::File::toJson() const
{
    StrictJson::Json json{{"identity", identity.toJson()},
                          {"bytes", bytes},
                          {"modifiedSeconds", modifiedSeconds},
                          {"modifiedNanoseconds", modifiedNanoseconds}};
    StrictJson::putPath(json, "staged", staged);
    StrictJson::putPath(json, "destination", destination);
    return json;
}

SplitExportTransaction::File SplitExportTransaction::File::fromJson(const StrictJson::Json &json)
{
    File file;
    file.staged = StrictJson::requirePath(json, "staged");
    file.destination = StrictJson::requirePath(json, "destination");
    file.identity = SourceFileIdentity::fromJson(StrictJson::requireObject(json, "identity"));
    file.bytes = StrictJson::requireInt64(json, "bytes");
    file.modifiedSeconds = StrictJson::requireInt64(json, "modifiedSeconds");
    file.modifiedNanoseconds = StrictJson::requireInt64(json, "modifiedNanoseconds");
    return file;
}

StrictJson::Json SplitExportTransaction::Journal::toJson() const
{
    StrictJson::Json list = StrictJson::Json::array();
    for (const File &file : files)
        list.push_back(file.toJson());
    return StrictJson::Json{{"owner", owner.toJson()},
                            {"directory", directory.toJson()},
                            {"bookmark", bookmark.toBase64().toStdString()},
                            {"files", std::move(list)}};
}

SplitExportTransaction::Journal SplitExportTransaction::Journal::fromJson(const StrictJson::Json &json)
{
    Journal journal;
    journal.owner = TemporaryAudioStore::Owner::fromJson(StrictJson::requireObject(json, "owner"));
    journal.directory = SourceFileIdentity::fromJson(StrictJson::requireObject(json, "directory"));
    const auto bookmark = QByteArray::fromBase64Encoding(StrictJson::requireString(json, "bookmark").toLatin1(),
                                                         QByteArray::AbortOnBase64DecodingErrors);
    if (!bookmark)
        throw JsonError(QStringLiteral("bookmark is not Base64"));
    journal.bookmark = *bookmark;
    for (const StrictJson::Json &file : StrictJson::requireArray(json, "files"))
        journal.files.push_back(File::fromJson(file));
    return journal;
}

namespace {

bool isPlainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QChar(u'\0'));
}

} // namespace

bool SplitExportTransaction::Journal::isWellFormed() const
{
    if (files.size() != 2 || files[0].destination == files[1].destination)
        return false;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const QString prefix = QStringLiteral("encoded-%1.").arg(i);
        if (!isPlainName(files[i].staged) || !isPlainName(files[i].destination)
            || !files[i].staged.startsWith(prefix))
            return false;
    }
    return true;
}

void SplitExportTransaction::write(const StrictJson::Json &value, const QUrl &url)
{
    const QByteArray bytes = StrictJson::dump(value);
    const QString path = FileLocation::localPath(url);
    Folder::open(FileLocation::parentPath(path), LinkPolicy::NoFollow)
        .writeAtomically(encodedPath(FileLocation::lastComponent(path)), bytes);
}

namespace {

SplitExportTransaction::File journalFile(const Folder &stage, const QString &output, const QString &destination)
{
    // O_PATH with no-follow describes a link itself (not a regular file, so refused) and
    // never blocks on a FIFO.
    const FileHandle file = stage.openFile(encodedPath(FileLocation::lastComponent(output)), O_PATH | O_NOFOLLOW);
    const FileStatus status = FileStatus::of(file.fd());
    if (status.owner != ::getuid() || !status.isRegularFile())
        fail(EACCES, "output check");
    const auto identity = SourceFileIdentity::of(file.fd());
    if (!identity)
        fail(EACCES, "output identity");
    return {FileLocation::lastComponent(output), FileLocation::lastComponent(destination), *identity,
            status.size, status.modifiedSeconds, status.modifiedNanoseconds};
}

} // namespace

SplitExportTransaction SplitExportTransaction::begin(const TemporaryExportDirectory &stage,
                                                     const QList<QUrl> &outputs,
                                                     const QList<QUrl> &destinations,
                                                     const BookmarkMaker &bookmark)
{
    try {
        if (!stage.record || outputs.size() != 2 || destinations.size() != 2)
            fail(EINVAL, "split export");
        const QString stagePath = FileLocation::localPath(stage.url);
        for (const QUrl &output : outputs) {
            if (FileLocation::parentPath(FileLocation::localPath(output)) != stagePath)
                fail(EINVAL, "output outside the stage");
        }
        const QString folderPath = FileLocation::parentPath(FileLocation::localPath(destinations[0]));
        if (FileLocation::parentPath(FileLocation::localPath(destinations[1])) != folderPath)
            fail(EINVAL, "destinations in two folders");
        const QUrl folder = QUrl::fromLocalFile(folderPath);

        // Both folders are examined through no-follow descriptors: the recovery will insist on
        // exactly this, so a folder it could never open is refused now, before anything exists.
        const Folder destinationFolder = SplitExportFileSafety::openDirectory(folder);
        const Folder stageFolder = SplitExportFileSafety::openDirectory(stage.url);
        if (TemporaryAudioSafety::identityOf(FileStatus::of(stageFolder.fd())) != stage.identity)
            fail(EACCES, "stage identity");
        const auto folderIdentity = SourceFileIdentity::of(destinationFolder.fd());
        const auto stageIdentity = SourceFileIdentity::of(stageFolder.fd());
        if (!folderIdentity || !stageIdentity || folderIdentity->volume != stageIdentity->volume)
            fail(EXDEV, "stage volume");

        Journal journal{stage.owner, *folderIdentity, {}, {}};
        for (int i = 0; i < 2; ++i) {
            File file = journalFile(stageFolder, FileLocation::localPath(outputs[i]),
                                    FileLocation::localPath(destinations[i]));
            if (file.identity.volume != folderIdentity->volume)
                fail(EXDEV, "output volume");
            journal.files.push_back(std::move(file));
        }
        // A journal the recovery would refuse could never be settled: refuse it now instead.
        if (!journal.isWellFormed())
            fail(EINVAL, "journal names");
        journal.bookmark = bookmark(folder);
        stageFolder.writeAtomically(journalName, StrictJson::dump(journal.toJson()));

        auto record = TemporaryAudioSafety::read<TemporaryAudioStore::ExportRecord>(*stage.record);
        if (record.owner != stage.owner || record.identity != stage.identity)
            fail(EINVAL, "export record of another stage");
        record.isSplitPair = true;
        write(record.toJson(), *stage.record);
        return SplitExportTransaction(stage);
    } catch (...) {
        throw AudioExportError(AudioExportError::Case::splitRecoveryUnavailable);
    }
}

} // namespace tampod
