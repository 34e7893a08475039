#include "files/temporary_audio_cleanup.h"

#include "concurrency/cancellation.h"
#include "concurrency/detached.h"
#include "concurrency/thread_role.h"
#include "core/error.h"
#include "core/file_system_call.h"
#include "core/folder.h"
#include "core/number_text.h"
#include "files/access/file_access_lease.h"
#include "files/access/source_bookmark.h"
#include "files/internal/file_location.h"
#include "files/journal/split_export_transaction.h"
#include "files/store/internal/temporary_audio_status.h"
#include "files/store/temporary_audio_lock.h"
#include "files/store/temporary_audio_safety.h"
#include "files/store/temporary_audio_store.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace tampod::TemporaryAudioCleanup {

namespace {

using TemporaryAudioSafety::Identity;
using Store = TemporaryAudioStore;

[[noreturn]] void fail(int code, const char *operation)
{
    throw SystemError(code, QString::fromLatin1(operation));
}

class Budget {
public:
    Budget(int maximumEntries, const Clock &clock)
        : clock_(clock ? clock : Clock([] { return std::chrono::steady_clock::now(); })),
          remaining_(maximumEntries), deadline_(clock_() + timeBudget)
    {
    }

    // Takes one unit or throws EAGAIN; a refused unit is not taken.
    void consume()
    {
        if (remaining_ < 1 || pastDeadline() || CurrentCancellation::isCancelled())
            fail(EAGAIN, "cleanup budget");
        --remaining_;
    }

    bool spent() const { return remaining_ < 1 || pastDeadline(); }
    int remaining() const { return remaining_; }
    bool pastDeadline() const { return clock_() >= deadline_; }

private:
    Clock clock_;
    int remaining_;
    std::chrono::steady_clock::time_point deadline_;
};

void failed(Report &report, const std::exception_ptr &error)
{
    ++report.errors;
    if (report.failureCodes.size() >= keptFailureCodes)
        return;
    QString domain = QStringLiteral("tampod.unknown");
    int code = 0;
    try {
        std::rethrow_exception(error);
    } catch (const Error &e) {
        domain = e.domain();
        code = e.code();
    } catch (...) {
    }
    report.failureCodes.append(domain + QLatin1Char('/') + NumberText::wholeQ(code));
}

QString pathOf(const QUrl &url)
{
    return FileLocation::localPath(url);
}

QUrl inFolder(const QString &folder, const QString &name)
{
    return QUrl::fromLocalFile(folder + QLatin1Char('/') + name);
}

// The 36-character hyphenated hexadecimal form, either case.
bool isUuidText(const QString &text)
{
    if (text.size() != 36)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != u'-')
                return false;
        } else if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'))) {
            return false;
        }
    }
    return true;
}

// The direct entries of a folder of the user that neither group nor others may write, one
// budget unit each.
QStringList children(const QUrl &folder, Budget &budget)
{
    const Identity identity = TemporaryAudioSafety::directoryIdentity(folder);
    Folder opened;
    try {
        opened = Folder::open(pathOf(folder), LinkPolicy::NoFollow);
    } catch (const SystemError &) {
        fail(EACCES, "list folder");
    }
    if (TemporaryAudioSafety::identityOf(FileStatus::of(opened.fd())) != identity)
        fail(EACCES, "folder changed");
    // One entry past the budget is enough to know it will run out.
    std::vector<QByteArray> found;
    try {
        const int limit = std::clamp(budget.remaining(), 0, std::numeric_limits<int>::max() - 1) + 1;
        opened.visitEntries(limit, [&](const Folder::Entry &entry) {
            found.emplace_back(entry.name);
            return false;
        });
    } catch (const SystemError &) {
        fail(EACCES, "list folder");
    }
    QStringList names;
    for (const QByteArray &name : found) {
        budget.consume();
        names.append(decodedPath(name));
    }
    return names;
}

// Returns when the whole tree is plain folders and files of the user; changes nothing.
void validateTree(const QUrl &folder, Budget &budget)
{
    std::vector<QString> stack{pathOf(folder)};
    while (!stack.empty()) {
        const QString current = stack.back();
        stack.pop_back();
        for (const QString &name : children(QUrl::fromLocalFile(current), budget)) {
            const QString path = current + QLatin1Char('/') + name;
            const FileStatus status = TemporaryAudioSafety::info(QUrl::fromLocalFile(path));
            if (status.isDirectory())
                stack.push_back(path);
            else if (!status.isRegularFile())
                fail(EACCES, "entry type");
        }
    }
}

void removeRecord(const QUrl &recordUrl)
{
    const QByteArray path = FileLocation::nativePath(recordUrl);
    if (FileSystemCall::attempt("unlink", [&] { return ::unlink(path.constData()); }) != 0)
        fail(errno, "remove export record");
}

bool isEmptyFolder(const QUrl &folder)
{
    return !Folder::open(pathOf(folder), LinkPolicy::NoFollow).visitEntries(1, [](const Folder::Entry &) {
        return true;
    });
}

// A staging folder recorded by name before it was made: the launch died before it recorded the
// folder itself, so the folder holds at most its owner file. Removes it, if it was made, and
// then the record.
void removeUnfinishedExport(const QUrl &recordUrl, const Store::ExportRecord &record, Budget &budget)
{
    const QString &name = *record.stagingName;
    if (!name.startsWith(QLatin1String(Store::stagingPrefix)) || name.contains(QLatin1Char('/')))
        fail(EINVAL, "export record");
    const auto resolved = SourceBookmark::resolve(record.bookmark);
    if (!resolved) {
        if (!SourceBookmark::isGone(record.bookmark))
            fail(ENOENT, "destination folder not found");
        removeRecord(recordUrl);
        return;
    }
    const FileAccessLease folderAccess(resolved->url);
    if (resolved->stale)
        fail(EACCES, "destination folder moved");
    const QUrl staging = inFolder(pathOf(resolved->url), name);
    if (FileStatus::ofPath(pathOf(staging))) {
        const Identity identity = TemporaryAudioSafety::directoryIdentity(staging);
        const QStringList names = children(staging, budget);
        if (!names.isEmpty() && names != QStringList{QLatin1String(Store::stagingOwnerName)})
            fail(EACCES, "staging folder of another owner");
        TemporaryAudioSafety::removeTree(staging, identity);
    }
    removeRecord(recordUrl);
}

// Settles and removes one recorded staging folder, then its record.
std::optional<SplitExportTransaction::Outcome> removeExport(const QUrl &recordUrl, Budget &budget)
{
    const auto record = TemporaryAudioSafety::read<Store::ExportRecord>(recordUrl);
    if (record.owner.signature != Store::Owner::standardSignature() || !isUuidText(record.owner.id)
        || FileLocation::lastComponent(pathOf(recordUrl)) != record.owner.id + QLatin1String(".json"))
        fail(EINVAL, "export record");
    if (record.stagingName) {
        removeUnfinishedExport(recordUrl, record, budget);
        return std::nullopt;
    }

    const auto resolved = SourceBookmark::resolve(record.bookmark);
    if (!resolved) {
        // Not found with its folder in reach: a removal finished but for the record. Otherwise
        // its disk is not connected, or it went elsewhere, and a pair stays pending.
        if (!SourceBookmark::isGone(record.bookmark))
            fail(ENOENT, "staging folder not found");
        removeRecord(recordUrl);
        return std::nullopt;
    }
    const QUrl staging = resolved->url;
    const FileAccessLease stagingAccess(staging);
    if (resolved->stale)
        fail(EACCES, "staging folder moved");
    const Identity identity = TemporaryAudioSafety::directoryIdentity(staging);
    if (identity != record.identity)
        fail(EACCES, "staging folder identity");
    // Its owner file goes last, so an empty folder is a removal cut short after it.
    std::optional<SplitExportTransaction::Outcome> outcome;
    if (!isEmptyFolder(staging)) {
        const auto owner = TemporaryAudioSafety::read<Store::Owner>(
            inFolder(pathOf(staging), QLatin1String(Store::stagingOwnerName)));
        if (owner != record.owner)
            fail(EACCES, "staging folder of another owner");
        validateTree(staging, budget);
        budget.consume();
        outcome = SplitExportTransaction::recover(staging, record.owner);
        if (TemporaryAudioSafety::directoryIdentity(staging) != identity)
            fail(EACCES, "staging folder identity");
    }
    TemporaryAudioSafety::removeTree(staging, identity);
    // The folder goes before its record: an interrupted run leaves the record to try again.
    removeRecord(recordUrl);
    return outcome;
}

bool isSessionEntryName(const QString &name)
{
    return name == QLatin1String(Store::lockName) || name == QLatin1String(Store::ownerName)
        || name == QLatin1String(Store::jobsName) || name == QLatin1String(Store::exportsName)
        // A crash while "owner.json" was written; nothing else of ours is written there.
        || Folder::isAtomicWriteLeftover(encodedPath(name), Store::ownerName);
}

enum class Disposition { removed, active, retained };

// The session's lock, held until the session is finished; none while a launch that is still
// running, or another cleanup, holds it.
std::unique_ptr<TemporaryAudioLock> takeLock(const QString &session)
{
    try {
        return std::make_unique<TemporaryAudioLock>(inFolder(session, QLatin1String(Store::lockName)), false);
    } catch (const SystemError &error) {
        if (error.errnoValue() == EWOULDBLOCK)
            return nullptr;
        throw;
    }
}

Disposition cleanSession(const QString &rootPath, const QString &name, Budget &budget, Report &report)
{
    const QString path = rootPath + QLatin1Char('/') + name;
    const QUrl session = QUrl::fromLocalFile(path);
    const FileStatus status = TemporaryAudioSafety::info(session);
    if ((status.mode & 022) != 0 || !status.isDirectory())
        fail(EACCES, "session folder");
    const Identity identity = TemporaryAudioSafety::identityOf(status);

    if (!FileStatus::ofPath(path + QLatin1Char('/') + QLatin1String(Store::ownerName))) {
        // The lock goes last, so a removal cut short after the owner file went leaves the lock
        // alone, or nothing. A launch that died making its session leaves its lock and perhaps
        // empty "jobs" and "exports" and a temporary of its owner file. One still making it
        // holds the lock, or makes another session when this one goes.
        const QStringList names = children(session, budget);
        const auto unfinished = [&](const QString &entry) {
            return entry == QLatin1String(Store::lockName)
                || Folder::isAtomicWriteLeftover(encodedPath(entry), Store::ownerName)
                || entry == QLatin1String(Store::jobsName) || entry == QLatin1String(Store::exportsName);
        };
        if (!names.isEmpty()
            && (!names.contains(QLatin1String(Store::lockName)) || !std::all_of(names.begin(), names.end(), unfinished)))
            fail(EACCES, "session without owner");
        const auto lock = names.isEmpty() ? nullptr : takeLock(path);
        if (!names.isEmpty() && !lock)
            return Disposition::active;
        for (const QLatin1String folder : {QLatin1String(Store::jobsName), QLatin1String(Store::exportsName)}) {
            if (names.contains(folder) && !children(inFolder(path, folder), budget).isEmpty())
                fail(EACCES, "session without owner");
        }
        TemporaryAudioSafety::removeTree(session, identity);
        return Disposition::removed;
    }

    const auto owner = TemporaryAudioSafety::read<Store::SessionOwner>(inFolder(path, QLatin1String(Store::ownerName)));
    if (owner.owner.signature != Store::Owner::standardSignature() || owner.owner.id != name
        || owner.directory != identity)
        return Disposition::retained;
    const auto lock = takeLock(path);
    if (!lock)
        return Disposition::active;
    if (lock->identity() != owner.lock)
        fail(EACCES, "lock identity");
    if (TemporaryAudioSafety::directoryIdentity(session) != identity)
        fail(EACCES, "session identity");
    validateTree(session, budget);

    const QStringList names = children(session, budget);
    const bool expected = std::all_of(names.begin(), names.end(), isSessionEntryName)
        && names.contains(QLatin1String(Store::lockName)) && names.contains(QLatin1String(Store::ownerName));
    if (!expected)
        return Disposition::retained;

    bool exportFailed = false;
    if (names.contains(QLatin1String(Store::exportsName))) {
        const QString exports = path + QLatin1Char('/') + QLatin1String(Store::exportsName);
        for (const QString &recordName : children(QUrl::fromLocalFile(exports), budget)) {
            // A record write cut short by a crash; the record itself is complete beside it.
            if (Folder::isAtomicWriteLeftover(encodedPath(recordName)))
                continue;
            const QUrl record = inFolder(exports, recordName);
            try {
                if (removeExport(record, budget) == SplitExportTransaction::Outcome::rolledBack)
                    ++report.recoveredPairs;
            } catch (...) {
                const std::exception_ptr error = std::current_exception();
                try {
                    if (TemporaryAudioSafety::read<Store::ExportRecord>(record).isSplitPair == true)
                        ++report.pendingPairs;
                } catch (...) {
                }
                failed(report, error);
                exportFailed = true;
            }
        }
    }
    if (exportFailed) {
        // The session stays for the records that are left; its working copies need not.
        if (names.contains(QLatin1String(Store::jobsName))) {
            const QUrl jobs = inFolder(path, QLatin1String(Store::jobsName));
            TemporaryAudioSafety::removeTree(jobs, TemporaryAudioSafety::directoryIdentity(jobs));
        }
        return Disposition::retained;
    }

    budget.consume();
    if (TemporaryAudioSafety::directoryIdentity(session) != identity)
        fail(EACCES, "session identity");
    TemporaryAudioSafety::removeTree(session, identity);
    return Disposition::removed;
}

} // namespace

Report run(const QUrl &root, int maximumEntries, const Clock &clock)
{
    Report report;
    try {
        Budget budget(maximumEntries, clock);
        QStringList entries;
        QString rootPath;
        try {
            rootPath = pathOf(root);
            TemporaryAudioSafety::directoryIdentity(root);
            entries = children(root, budget);
        } catch (...) {
            failed(report, std::current_exception());
            report.limited = budget.spent();
            return report;
        }
        for (const QString &name : entries) {
            try {
                budget.consume();
                if (!isUuidText(name)) {
                    ++report.retained;
                    continue;
                }
                switch (cleanSession(rootPath, name, budget, report)) {
                case Disposition::removed:
                    ++report.removed;
                    break;
                case Disposition::active:
                    ++report.active;
                    break;
                case Disposition::retained:
                    ++report.retained;
                    break;
                }
            } catch (...) {
                ++report.retained;
                failed(report, std::current_exception());
                if (budget.spent() || CurrentCancellation::isCancelled()) {
                    report.limited = true;
                    break;
                }
            }
        }
    } catch (...) {
        // Only allocation failures can reach here; the report stays what it is.
        failed(report, std::current_exception());
    }
    return report;
}

QCoro::Task<std::optional<Report>> cleanAbandoned()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    QUrl root;
    try {
        root = TemporaryAudioStore::shared().root();
    } catch (...) {
        co_return std::nullopt;
    }
    // Named before the co_await: g++ 12 destroys a lambda temporary built inside a co_await
    // operand twice, which would release the captured URL twice.
    auto job = [root] { return run(root, launchEntryBudget); };
    co_return co_await runDetached(TaskPriority::Utility, std::move(job));
}

} // namespace tampod::TemporaryAudioCleanup
