#include "files/journal/split_export_transaction.h"

#include "core/file_system_call.h"
#include "files/access/file_access_lease.h"
#include "files/access/source_bookmark.h"
#include "files/internal/file_location.h"
#include "files/internal/file_status.h"
#include "files/journal/internal/split_export_ownership.h"
#include "files/journal/split_export_file_safety.h"
#include "files/store/temporary_audio_safety.h"

#include <cerrno>
#include <unistd.h>

namespace tampod {

namespace {

[[noreturn]] void fail(int code, const char *operation)
{
    throw SystemError(code, QString::fromLatin1(operation));
}

QUrl inFolder(const QUrl &folder, const char *name)
{
    return QUrl::fromLocalFile(FileLocation::localPath(folder) + QLatin1Char('/') + QLatin1String(name));
}

QByteArray unpublishedName(std::size_t position)
{
    return QByteArray(SplitExportTransaction::unpublishedPrefix) + QByteArray::number(static_cast<qulonglong>(position));
}

// A taken-back entry that is not exactly the journaled file goes back under its destination
// name (never replacing anything there) and the recovery stops.
[[noreturn]] void putBackAndFail(const Folder &stage, const QByteArray &temporary, const Folder &destination,
                                 const SplitExportTransaction::File &file, int code)
{
    const int renamed = SplitExportFileSafety::renameExclusively(stage.fd(), temporary, destination.fd(),
                                                                 encodedPath(file.destination));
    fail(renamed != 0 ? renamed : code, "put back a file that is not the journaled one");
}

// 0 when the status is the journaled file unchanged, otherwise the POSIX code to fail with.
int ownershipProblem(const FileStatus &status, const SplitExportTransaction::File &file, std::uint64_t device)
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
    return FileStatus::ofPath(FileLocation::localPath(url)).has_value();
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
    const Folder destination = SplitExportFileSafety::openDirectory(folder, journal.directory);
    const Folder staging = SplitExportFileSafety::openDirectory(stage);

    const auto stageIdentity = SourceFileIdentity::of(staging.fd());
    if (!stageIdentity || stageIdentity->volume != journal.directory.volume)
        fail(EXDEV, "stage volume");
    for (const File &file : journal.files) {
        if (file.identity.volume != journal.directory.volume)
            fail(EXDEV, "file volume");
    }
    std::uint64_t device = 0;
    try {
        device = FileStatus::of(staging.fd()).device;
    } catch (const SystemError &) {
        fail(EACCES, "stage status");
    }
    const bool recovering = marker(recoveringMarkerName, stage, owner);

    // A leftover of an interrupted take-back must be exactly the journaled file.
    bool anyLeftover = false;
    for (std::size_t i = 0; i < journal.files.size(); ++i) {
        const QByteArray temporary = unpublishedName(i);
        const auto leftover = FileStatus::at(staging, temporary);
        if (!leftover)
            continue;
        anyLeftover = true;
        if (ownershipProblem(*leftover, journal.files[i], device) != 0)
            putBackAndFail(staging, temporary, destination, journal.files[i], EACCES);
    }

    bool published[2] = {false, false};
    for (std::size_t i = 0; i < journal.files.size(); ++i) {
        const auto status = FileStatus::at(destination, encodedPath(journal.files[i].destination));
        // Another file under the name is not ours and stays; a changed journaled file throws.
        published[i] = status && SplitExportFileSafety::isOwned(*status, journal.files[i], device);
    }

    if (published[0] && published[1] && !recovering) {
        write(owner.toJson(), inFolder(stage, committedMarkerName));
        return Outcome::completed;
    }
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
        const QByteArray name = encodedPath(file.destination);
        auto taken = FileStatus::at(staging, temporary);
        if (published[i] && !taken) {
            const int code = SplitExportFileSafety::renameExclusively(destination.fd(), name, staging.fd(), temporary);
            if (code != 0)
                fail(code, "take back");
            taken = FileStatus::at(staging, temporary);
        } else if (published[i]) {
            // A take-back by link and unlink cut short between the two: both names are the
            // journaled file, and the destination's goes.
            if (FileSystemCall::attempt("unlink", [&] { return ::unlinkat(destination.fd(), name.constData(), 0); })
                != 0)
                fail(errno, "take back");
        }
        if (!taken)
            continue;
        const int problem = ownershipProblem(*taken, file, device);
        if (problem != 0)
            putBackAndFail(staging, temporary, destination, file, problem);
        if (FileSystemCall::attempt("unlink", [&] { return ::unlinkat(staging.fd(), temporary.constData(), 0); }) != 0)
            fail(EACCES, "delete a taken-back file");
    }
    // The caller removes the stage next; the destination's change must reach the disk first.
    destination.sync();
    staging.sync();
    return Outcome::rolledBack;
}

} // namespace tampod
