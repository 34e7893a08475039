#include "files/journal/split_export_transaction.h"

#include "files/access/file_access_lease.h"
#include "files/internal/posix_support.h"
#include "files/access/source_bookmark.h"
#include "files/journal/split_export_file_safety.h"
#include "files/store/temporary_audio_safety.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tampod {

using PosixSupport::fail;
using Status = TemporaryAudioSafety::Status;

namespace {

QUrl inFolder(const QUrl &folder, const char *name)
{
    return QUrl::fromLocalFile(PosixSupport::localPath(folder) + QLatin1Char('/') + QLatin1String(name));
}

// The status of dirFd/name without following a link; none when nothing is there.
std::optional<Status> entryStatus(int dirFd, const QByteArray &name)
{
    try {
        return Status::at(dirFd, name);
    } catch (const SystemError &error) {
        if (error.errnoValue() == ENOENT)
            return std::nullopt;
        throw;
    }
}

QByteArray unpublishedName(std::size_t position)
{
    return QByteArray(SplitExportTransaction::unpublishedPrefix) + QByteArray::number(static_cast<qulonglong>(position));
}

// A taken-back entry that is not exactly the journaled file goes back under its destination
// name (never replacing anything there) and the recovery stops.
[[noreturn]] void putBackAndFail(int stageFd, const QByteArray &temporary, int destinationFd,
                                 const SplitExportTransaction::File &file, int code)
{
    const int renamed = SplitExportFileSafety::renameExclusively(stageFd, temporary, destinationFd,
                                                                 QFile::encodeName(file.destination));
    fail(renamed != 0 ? renamed : code, "put back a file that is not the journaled one");
}

// 0 when the status is the journaled file unchanged, otherwise the POSIX code to fail with.
int ownershipProblem(const Status &status, const SplitExportTransaction::File &file, std::uint64_t device)
{
    try {
        return SplitExportFileSafety::isOwned(status, file, device) ? 0 : EACCES;
    } catch (const SystemError &error) {
        return error.errnoValue();
    }
}

} // namespace

bool SplitExportTransaction::exists(const QUrl &url)
{
    return entryStatus(AT_FDCWD, PosixSupport::nativePath(url)).has_value();
}

bool SplitExportTransaction::marker(const char *name, const QUrl &stage, const TemporaryAudioStore::Owner &owner)
{
    const QUrl url = inFolder(stage, name);
    if (!exists(url))
        return false;
    if (TemporaryAudioSafety::read<TemporaryAudioStore::Owner>(url) != owner)
        fail(EINVAL, "marker of another owner");
    return true;
}

std::optional<SplitExportTransaction::Outcome> SplitExportTransaction::recover(const QUrl &stage,
                                                                               const TemporaryAudioStore::Owner &owner)
{
    if (!exists(inFolder(stage, journalName)))
        return std::nullopt;
    const Journal journal = TemporaryAudioSafety::read<Journal>(inFolder(stage, journalName));
    if (journal.owner != owner || !journal.isWellFormed())
        fail(EINVAL, "journal");
    if (marker(committedMarkerName, stage, owner))
        return Outcome::completed;

    // A stale bookmark (the folder was renamed in its parent) is used as resolved: the identity
    // checks decide. Not found means another folder took its place, or it is out of reach.
    const auto resolved = SourceBookmark::resolve(journal.bookmark);
    if (!resolved)
        fail(EACCES, "destination folder not found");
    const QUrl folder = resolved->url;
    const FileAccessLease folderAccess(folder);
    const auto identity = SourceFileIdentity::of(folder);
    if (!identity || *identity != journal.directory)
        fail(EACCES, "destination folder identity");
    FileHandle destination = SplitExportFileSafety::openDirectory(folder, journal.directory);
    FileHandle staging = SplitExportFileSafety::openDirectory(stage);

    const auto stageIdentity = SourceFileIdentity::of(staging.fd());
    if (!stageIdentity || stageIdentity->volume != journal.directory.volume)
        fail(EXDEV, "stage volume");
    for (const File &file : journal.files) {
        if (file.identity.volume != journal.directory.volume)
            fail(EXDEV, "file volume");
    }
    std::uint64_t device = 0;
    try {
        device = Status::of(staging.fd()).device;
    } catch (const SystemError &) {
        fail(EACCES, "stage status");
    }
    const bool recovering = marker(recoveringMarkerName, stage, owner);

    // A leftover of an interrupted take-back must be exactly the journaled file.
    for (std::size_t i = 0; i < journal.files.size(); ++i) {
        const QByteArray temporary = unpublishedName(i);
        const auto leftover = entryStatus(staging.fd(), temporary);
        if (!leftover)
            continue;
        const int problem = ownershipProblem(*leftover, journal.files[i], device);
        if (problem != 0)
            putBackAndFail(staging.fd(), temporary, destination.fd(), journal.files[i], EACCES);
    }

    bool published[2] = {false, false};
    for (std::size_t i = 0; i < journal.files.size(); ++i) {
        const auto status = entryStatus(destination.fd(), QFile::encodeName(journal.files[i].destination));
        // Another file under the name is not ours and stays; a changed journaled file throws.
        published[i] = status && SplitExportFileSafety::isOwned(*status, journal.files[i], device);
    }

    if (published[0] && published[1] && !recovering) {
        write(owner.toJson(), inFolder(stage, committedMarkerName));
        return Outcome::completed;
    }
    bool anyLeftover = false;
    for (std::size_t i = 0; i < journal.files.size(); ++i)
        anyLeftover = anyLeftover || entryStatus(staging.fd(), unpublishedName(i)).has_value();
    if (!published[0] && !published[1] && !anyLeftover) {
        if (!recovering)
            return Outcome::nothingPublished;
    } else if (!recovering) {
        // From here on the take-back is final, even if a later run finds both files published.
        write(owner.toJson(), inFolder(stage, recoveringMarkerName));
    }

    for (std::size_t i = 0; i < journal.files.size(); ++i) {
        const File &file = journal.files[i];
        const QByteArray temporary = unpublishedName(i);
        if (!entryStatus(staging.fd(), temporary) && published[i]) {
            const int code = SplitExportFileSafety::renameExclusively(
                destination.fd(), QFile::encodeName(file.destination), staging.fd(), temporary);
            if (code != 0)
                fail(code, "take back");
        }
        const auto taken = entryStatus(staging.fd(), temporary);
        if (!taken)
            continue;
        const int problem = ownershipProblem(*taken, file, device);
        if (problem != 0)
            putBackAndFail(staging.fd(), temporary, destination.fd(), file, problem);
        if (::unlinkat(staging.fd(), temporary.constData(), 0) != 0)
            fail(EACCES, "delete a taken-back file");
    }
    // The caller removes the stage next; the destination's change must reach the disk first.
    PosixSupport::syncDescriptor(destination.fd());
    PosixSupport::syncDescriptor(staging.fd());
    return Outcome::rolledBack;
}

} // namespace tampod
