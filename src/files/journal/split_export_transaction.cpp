#include "files/journal/split_export_transaction.h"

#include "files/journal/audio_export_error.h"
#include "files/internal/posix_support.h"
#include "files/journal/split_export_file_safety.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tampod {

using PosixSupport::fail;

StrictJson::Json SplitExportTransaction::File::toJson() const
{
    return StrictJson::Json{{"staged", staged.toStdString()},
                            {"destination", destination.toStdString()},
                            {"identity", identity.toJson()},
                            {"bytes", bytes},
                            {"modifiedSeconds", modifiedSeconds},
                            {"modifiedNanoseconds", modifiedNanoseconds}};
}

SplitExportTransaction::File SplitExportTransaction::File::fromJson(const StrictJson::Json &json)
{
    File file;
    file.staged = StrictJson::requireString(json, "staged");
    file.destination = StrictJson::requireString(json, "destination");
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
    const QString path = PosixSupport::localPath(url);
    FileHandle folder = PosixSupport::openDirectoryNoFollow(AT_FDCWD, QFile::encodeName(PosixSupport::parentPath(path)));
    PosixSupport::writeAtomically(folder.fd(), QFile::encodeName(PosixSupport::lastComponent(path)), bytes);
}

namespace {

SplitExportTransaction::File journalFile(int stageFd, const QString &output, const QString &destination)
{
    const QByteArray name = QFile::encodeName(PosixSupport::lastComponent(output));
    // O_PATH with no-follow describes a link itself (not a regular file, so refused) and
    // never blocks on a FIFO.
    const int fd = PosixSupport::openAt(stageFd, name, O_PATH | O_NOFOLLOW);
    if (fd < 0)
        fail(errno, "open output");
    FileHandle file(fd);
    const auto status = TemporaryAudioSafety::Status::of(file.fd());
    if (status.owner != ::getuid() || !status.isRegularFile())
        fail(EACCES, "output check");
    const auto identity = SourceFileIdentity::of(file.fd());
    if (!identity)
        fail(EACCES, "output identity");
    return {PosixSupport::lastComponent(output), PosixSupport::lastComponent(destination), *identity,
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
        const QString stagePath = PosixSupport::localPath(stage.url);
        for (const QUrl &output : outputs) {
            if (PosixSupport::parentPath(PosixSupport::localPath(output)) != stagePath)
                fail(EINVAL, "output outside the stage");
        }
        const QString folderPath = PosixSupport::parentPath(PosixSupport::localPath(destinations[0]));
        if (PosixSupport::parentPath(PosixSupport::localPath(destinations[1])) != folderPath)
            fail(EINVAL, "destinations in two folders");
        const QUrl folder = QUrl::fromLocalFile(folderPath);

        // Both folders are examined through no-follow descriptors: the recovery will insist on
        // exactly this, so a folder it could never open is refused now, before anything exists.
        FileHandle destinationFolder = SplitExportFileSafety::openDirectory(folder);
        FileHandle stageFolder = SplitExportFileSafety::openDirectory(stage.url);
        if (TemporaryAudioSafety::Status::of(stageFolder.fd()).identity() != stage.identity)
            fail(EACCES, "stage identity");
        const auto folderIdentity = SourceFileIdentity::of(destinationFolder.fd());
        const auto stageIdentity = SourceFileIdentity::of(stageFolder.fd());
        if (!folderIdentity || !stageIdentity || folderIdentity->volume != stageIdentity->volume)
            fail(EXDEV, "stage volume");

        Journal journal{stage.owner, *folderIdentity, {}, {}};
        for (int i = 0; i < 2; ++i) {
            File file = journalFile(stageFolder.fd(), PosixSupport::localPath(outputs[i]),
                                    PosixSupport::localPath(destinations[i]));
            if (file.identity.volume != folderIdentity->volume)
                fail(EXDEV, "output volume");
            journal.files.push_back(std::move(file));
        }
        // A journal the recovery would refuse could never be settled: refuse it now instead.
        if (!journal.isWellFormed())
            fail(EINVAL, "journal names");
        journal.bookmark = bookmark(folder);
        PosixSupport::writeAtomically(stageFolder.fd(), journalName, StrictJson::dump(journal.toJson()));

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
