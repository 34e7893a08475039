#include "files/store/temporary_audio_store.h"

#include "concurrency/detached.h"
#include "concurrency/thread_role.h"
#include "core/file_handle.h"
#include "files/store/app_identity.h"
#include "files/internal/posix_support.h"
#include "files/access/source_bookmark.h"
#include "files/store/temporary_export_directory.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tampod {

namespace {

using PosixSupport::fail;

QString freshId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString child(const QUrl &folder, const QString &name)
{
    return PosixSupport::localPath(folder) + QLatin1Char('/') + name;
}

void makeFolderIfMissing(const QString &path)
{
    try {
        PosixSupport::makePrivateDirectory(AT_FDCWD, QFile::encodeName(path));
    } catch (const SystemError &error) {
        if (error.errnoValue() != EEXIST)
            throw;
    }
}

QByteArray base64(const QByteArray &bytes)
{
    return bytes.toBase64();
}

} // namespace

QString TemporaryAudioStore::Owner::standardSignature()
{
    return QLatin1String(AppIdentity::bundleIdentifier) + QLatin1String(".temporary-audio.v1");
}

StrictJson::Json TemporaryAudioStore::Owner::toJson() const
{
    return StrictJson::Json{{"signature", signature.toStdString()}, {"id", id.toStdString()}};
}

TemporaryAudioStore::Owner TemporaryAudioStore::Owner::fromJson(const StrictJson::Json &json)
{
    return {StrictJson::requireString(json, "signature"), StrictJson::requireString(json, "id")};
}

StrictJson::Json TemporaryAudioStore::SessionOwner::toJson() const
{
    return StrictJson::Json{{"owner", owner.toJson()},
                            {"directory", directory.toJson()},
                            {"lock", lock.toJson()}};
}

TemporaryAudioStore::SessionOwner TemporaryAudioStore::SessionOwner::fromJson(const StrictJson::Json &json)
{
    return {Owner::fromJson(StrictJson::requireObject(json, "owner")),
            TemporaryAudioSafety::Identity::fromJson(StrictJson::requireObject(json, "directory")),
            TemporaryAudioSafety::Identity::fromJson(StrictJson::requireObject(json, "lock"))};
}

StrictJson::Json TemporaryAudioStore::ExportRecord::toJson() const
{
    StrictJson::Json json{{"owner", owner.toJson()},
                          {"identity", identity.toJson()},
                          {"bookmark", base64(bookmark).toStdString()}};
    if (isSplitPair)
        json["isSplitPair"] = *isSplitPair;
    return json;
}

TemporaryAudioStore::ExportRecord TemporaryAudioStore::ExportRecord::fromJson(const StrictJson::Json &json)
{
    ExportRecord record;
    record.owner = Owner::fromJson(StrictJson::requireObject(json, "owner"));
    record.identity = TemporaryAudioSafety::Identity::fromJson(StrictJson::requireObject(json, "identity"));
    const auto decoded = QByteArray::fromBase64Encoding(
        StrictJson::requireString(json, "bookmark").toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        throw JsonError(QStringLiteral("bookmark is not Base64"));
    record.bookmark = *decoded;
    record.isSplitPair = StrictJson::optionalBool(json, "isSplitPair");
    return record;
}

TemporaryAudioStore::TemporaryAudioStore(const QUrl &root) : TemporaryAudioStore(root, freshId()) {}

TemporaryAudioStore::TemporaryAudioStore(const QUrl &root, const QString &sessionId, const SessionHook &hook)
    : root_(QUrl::fromLocalFile(PosixSupport::localPath(root))), sessionId_(sessionId)
{
    makeFolderIfMissing(PosixSupport::localPath(root_));
    const TemporaryAudioSafety::Identity rootIdentity = TemporaryAudioSafety::directoryIdentity(root_);

    // The session is made relative to the root we just checked, so a root swapped meanwhile
    // is caught by the identity comparison rather than written into.
    FileHandle rootFolder = PosixSupport::openDirectoryNoFollow(AT_FDCWD, QFile::encodeName(PosixSupport::localPath(root_)));
    if (TemporaryAudioSafety::Status::of(rootFolder.fd()).identity() != rootIdentity)
        fail(EACCES, "root identity");
    const QByteArray idBytes = QFile::encodeName(sessionId_);
    if (sessionId_.isEmpty() || sessionId_.contains(QLatin1Char('/')) || sessionId_.startsWith(QLatin1Char('.')))
        fail(EINVAL, "session id");
    PosixSupport::makePrivateDirectory(rootFolder.fd(), idBytes);
    session_ = QUrl::fromLocalFile(child(root_, sessionId_));

    std::optional<TemporaryAudioSafety::Identity> sessionIdentity;
    try {
        FileHandle sessionFolder = PosixSupport::openDirectoryNoFollow(rootFolder.fd(), idBytes);
        sessionIdentity = TemporaryAudioSafety::Status::of(sessionFolder.fd()).identity();
        if (hook)
            hook(session_);
        lock_ = std::make_unique<TemporaryAudioLock>(QUrl::fromLocalFile(child(session_, QLatin1String(lockName))), true);
        PosixSupport::makePrivateDirectory(sessionFolder.fd(), jobsName);
        PosixSupport::makePrivateDirectory(sessionFolder.fd(), exportsName);
        if (TemporaryAudioSafety::directoryIdentity(session_) != *sessionIdentity)
            fail(EACCES, "session identity");
        const SessionOwner record{{Owner::standardSignature(), sessionId_}, *sessionIdentity, lock_->identity()};
        PosixSupport::writeAtomically(sessionFolder.fd(), ownerName, StrictJson::dump(record.toJson()));
        PosixSupport::syncDescriptor(rootFolder.fd());
    } catch (...) {
        lock_.reset();
        try {
            if (sessionIdentity)
                TemporaryAudioSafety::removeTree(session_, *sessionIdentity);
            else
                ::unlinkat(rootFolder.fd(), idBytes.constData(), AT_REMOVEDIR);
        } catch (...) {
        }
        throw;
    }
}

TemporaryAudioStore::~TemporaryAudioStore() = default;

QUrl TemporaryAudioStore::defaultRoot()
{
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    // The base-directory rules ignore a relative value.
    if (!cache.startsWith(QLatin1Char('/'))) {
        QString home = qEnvironmentVariable("HOME");
        if (!home.startsWith(QLatin1Char('/'))) {
            const passwd *entry = ::getpwuid(::getuid());
            home = entry ? QFile::decodeName(entry->pw_dir) : QString();
        }
        cache = home + QLatin1String("/.cache");
    }
    return QUrl::fromLocalFile(QDir::cleanPath(cache + QLatin1String("/tamPOD/") + QLatin1String(rootName)));
}

TemporaryAudioStore &TemporaryAudioStore::shared()
{
    struct Result {
        std::unique_ptr<TemporaryAudioStore> store;
        std::exception_ptr error;
    };
    static const Result result = [] {
        Result built;
        try {
            const QString root = PosixSupport::localPath(defaultRoot());
            const QString application = PosixSupport::parentPath(root);
            // The cache folder and our folder in it may not exist yet on a fresh account.
            makeFolderIfMissing(PosixSupport::parentPath(application));
            makeFolderIfMissing(application);
            built.store = std::make_unique<TemporaryAudioStore>(QUrl::fromLocalFile(root));
        } catch (...) {
            built.error = std::current_exception();
        }
        return built;
    }();
    if (result.error)
        std::rethrow_exception(result.error);
    return *result.store;
}

QCoro::Task<std::optional<TemporaryAudioCleanup::Report>> TemporaryAudioStore::cleanAbandoned()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    QUrl root;
    try {
        root = shared().root();
    } catch (...) {
        co_return std::nullopt;
    }
    co_return co_await runDetached(TaskPriority::Utility, [root] {
        return TemporaryAudioCleanup::run(root, TemporaryAudioCleanup::launchEntryBudget);
    });
}

QUrl TemporaryAudioStore::makeDirectory() const
{
    FileHandle jobs = PosixSupport::openDirectoryNoFollow(AT_FDCWD, QFile::encodeName(child(session_, QLatin1String(jobsName))));
    const QString id = freshId();
    PosixSupport::makePrivateDirectory(jobs.fd(), QFile::encodeName(id));
    return QUrl::fromLocalFile(child(session_, QLatin1String(jobsName)) + QLatin1Char('/') + id);
}

QByteArray TemporaryAudioStore::defaultBookmark(const QUrl &folder)
{
    const auto bookmark = SourceBookmark::create(folder);
    if (!bookmark)
        fail(EACCES, "bookmark");
    return *bookmark;
}

TemporaryExportDirectory TemporaryAudioStore::makeExportDirectory(const QUrl &destination,
                                                                  const BookmarkMaker &bookmark) const
{
    const QString folder = PosixSupport::parentPath(PosixSupport::localPath(destination));
    // A hidden, uniquely named folder beside the destination: on its file system, so the
    // finished file can be moved into place by a rename.
    QByteArray pattern = QFile::encodeName(folder + QLatin1String("/.tampod-staging-XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        fail(errno, "mkdtemp");
    const QString stagingPath = QFile::decodeName(pattern);
    const QUrl staging = QUrl::fromLocalFile(stagingPath);

    TemporaryExportDirectory result;
    result.url = staging;
    result.owner = {Owner::standardSignature(), freshId()};
    std::optional<TemporaryAudioSafety::Identity> identity;
    try {
        FileHandle stagingFolder = PosixSupport::openDirectoryNoFollow(AT_FDCWD, pattern);
        if (::fchmod(stagingFolder.fd(), 0700) != 0)
            fail(errno, "fchmod");
        identity = TemporaryAudioSafety::directoryIdentity(staging);
        if (TemporaryAudioSafety::Status::of(stagingFolder.fd()).identity() != *identity)
            fail(EACCES, "staging identity");
        result.identity = *identity;
        PosixSupport::writeExclusively(stagingFolder.fd(), stagingOwnerName,
                                       StrictJson::dump(result.owner.toJson()));
        // Flush the new folder's entry before it is recorded. A folder we may write but not
        // read (a drop box) cannot be opened for that; exporting there still works.
        const int parent = PosixSupport::openAt(AT_FDCWD, QFile::encodeName(folder), O_RDONLY | O_DIRECTORY);
        if (parent >= 0) {
            FileHandle parentFolder(parent);
            PosixSupport::syncDescriptor(parentFolder.fd());
        } else if (errno != EACCES) {
            fail(errno, "open folder");
        }

        const QString recordPath = child(session_, QLatin1String(exportsName)) + QLatin1Char('/')
            + result.owner.id + QLatin1String(".json");
        const ExportRecord record{result.owner, *identity, bookmark(staging), std::nullopt};
        FileHandle exports = PosixSupport::openDirectoryNoFollow(
            AT_FDCWD, QFile::encodeName(child(session_, QLatin1String(exportsName))));
        PosixSupport::writeAtomically(exports.fd(), QFile::encodeName(result.owner.id + QLatin1String(".json")),
                                      StrictJson::dump(record.toJson()));
        result.record = QUrl::fromLocalFile(recordPath);
    } catch (...) {
        try {
            if (identity)
                TemporaryAudioSafety::removeTree(staging, *identity);
            else
                ::rmdir(pattern.constData());
        } catch (...) {
        }
        throw;
    }
    return result;
}

} // namespace tampod
