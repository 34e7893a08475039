#include "files/store/temporary_audio_store.h"

#include "concurrency/detached.h"
#include "concurrency/thread_role.h"
#include "core/file_system_call.h"
#include "core/folder.h"
#include "files/access/source_bookmark.h"
#include "files/internal/file_location.h"
#include "files/internal/file_status.h"
#include "files/store/app_identity.h"
#include "files/store/internal/temporary_audio_status.h"
#include "files/store/temporary_export_directory.h"

#include <QDir>
#include <QRandomGenerator>
#include <QUuid>

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tampod {

namespace {

QString freshId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// Six letters or digits, as mkdtemp picks them.
QString stagingSuffix()
{
    static constexpr char characters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString suffix;
    for (int i = 0; i < 6; ++i)
        suffix += QLatin1Char(characters[QRandomGenerator::system()->bounded(62)]);
    return suffix;
}

QString child(const QUrl &folder, const QString &name)
{
    return FileLocation::localPath(folder) + QLatin1Char('/') + name;
}

void makeFolderIfMissing(const QString &path)
{
    try {
        Folder::open(FileLocation::parentPath(path)).makePrivateFolder(encodedPath(FileLocation::lastComponent(path)));
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
    StrictJson::Json json{{"owner", owner.toJson()}, {"bookmark", base64(bookmark).toStdString()}};
    if (stagingName)
        json["stagingName"] = stagingName->toStdString();
    else
        json["identity"] = identity.toJson();
    if (isSplitPair)
        json["isSplitPair"] = *isSplitPair;
    return json;
}

TemporaryAudioStore::ExportRecord TemporaryAudioStore::ExportRecord::fromJson(const StrictJson::Json &json)
{
    ExportRecord record;
    record.owner = Owner::fromJson(StrictJson::requireObject(json, "owner"));
    record.stagingName = StrictJson::optionalString(json, "stagingName");
    if (!record.stagingName)
        record.identity = TemporaryAudioSafety::Identity::fromJson(StrictJson::requireObject(json, "identity"));
    const auto decoded = QByteArray::fromBase64Encoding(
        StrictJson::requireString(json, "bookmark").toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        throw JsonError(QStringLiteral("bookmark is not Base64"));
    record.bookmark = *decoded;
    record.isSplitPair = StrictJson::optionalBool(json, "isSplitPair");
    return record;
}

TemporaryAudioStore::TemporaryAudioStore(const QUrl &root)
    : root_(QUrl::fromLocalFile(FileLocation::localPath(root)))
{
    // Another launch's cleanup takes a session folder that is still empty (it cannot tell it
    // from one a crash left); the session is then made again under a new id.
    for (int attempt = 1;; ++attempt) {
        sessionId_ = freshId();
        try {
            open({});
            return;
        } catch (const SystemError &error) {
            if (error.errnoValue() != ENOENT || attempt == 3)
                throw;
        }
    }
}

TemporaryAudioStore::TemporaryAudioStore(const QUrl &root, const QString &sessionId, const SessionHook &hook)
    : root_(QUrl::fromLocalFile(FileLocation::localPath(root))), sessionId_(sessionId)
{
    open(hook);
}

void TemporaryAudioStore::open(const SessionHook &hook)
{
    const QString rootPath = FileLocation::localPath(root_);
    makeFolderIfMissing(rootPath);
    const TemporaryAudioSafety::Identity rootIdentity = TemporaryAudioSafety::directoryIdentity(root_);

    // The session is made relative to the root we just checked, so a root swapped meanwhile
    // is caught by the identity comparison rather than written into.
    const Folder rootFolder = Folder::open(rootPath, LinkPolicy::NoFollow);
    if (TemporaryAudioSafety::identityOf(FileStatus::of(rootFolder.fd())) != rootIdentity)
        throw SystemError(EACCES, QStringLiteral("root identity"));
    const QByteArray idBytes = encodedPath(sessionId_);
    if (sessionId_.isEmpty() || sessionId_.contains(QLatin1Char('/')) || sessionId_.startsWith(QLatin1Char('.')))
        throw SystemError(EINVAL, QStringLiteral("session id"));
    rootFolder.makePrivateFolder(idBytes);
    session_ = QUrl::fromLocalFile(child(root_, sessionId_));

    std::optional<TemporaryAudioSafety::Identity> sessionIdentity;
    try {
        const Folder sessionFolder = rootFolder.openSubfolder(idBytes);
        sessionIdentity = TemporaryAudioSafety::identityOf(FileStatus::of(sessionFolder.fd()));
        if (hook)
            hook(session_);
        lock_ = std::make_unique<TemporaryAudioLock>(QUrl::fromLocalFile(child(session_, QLatin1String(lockName))), true);
        sessionFolder.makePrivateFolder(jobsName);
        sessionFolder.makePrivateFolder(exportsName);
        if (TemporaryAudioSafety::directoryIdentity(session_) != *sessionIdentity)
            throw SystemError(EACCES, QStringLiteral("session identity"));
        const SessionOwner record{{Owner::standardSignature(), sessionId_}, *sessionIdentity, lock_->identity()};
        sessionFolder.writeAtomically(ownerName, StrictJson::dump(record.toJson()));
        rootFolder.sync();
    } catch (...) {
        lock_.reset();
        try {
            if (sessionIdentity)
                TemporaryAudioSafety::removeTree(session_, *sessionIdentity);
            else
                FileSystemCall::attempt("rmdir", [&] {
                    return ::unlinkat(rootFolder.fd(), idBytes.constData(), AT_REMOVEDIR);
                });
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
            home = entry ? decodedPath(entry->pw_dir) : QString();
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
            const QString root = FileLocation::localPath(defaultRoot());
            const QString application = FileLocation::parentPath(root);
            // The cache folder and our folder in it may not exist yet on a fresh account.
            makeFolderIfMissing(FileLocation::parentPath(application));
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

QUrl TemporaryAudioStore::makeDirectory() const
{
    const Folder jobs = Folder::open(child(session_, QLatin1String(jobsName)), LinkPolicy::NoFollow);
    return QUrl::fromLocalFile(jobs.makePrivateFolder(encodedPath(freshId())).path());
}

QByteArray TemporaryAudioStore::defaultBookmark(const QUrl &folder)
{
    const auto bookmark = SourceBookmark::create(folder);
    if (!bookmark)
        throw SystemError(EACCES, QStringLiteral("bookmark"));
    return *bookmark;
}

TemporaryExportDirectory TemporaryAudioStore::makeExportDirectory(const QUrl &destination,
                                                                  const BookmarkMaker &bookmark) const
{
    const QString folder = FileLocation::parentPath(FileLocation::localPath(destination));
    TemporaryExportDirectory result;
    result.owner = {Owner::standardSignature(), freshId()};
    const QByteArray recordName = encodedPath(result.owner.id + QLatin1String(".json"));
    const Folder exports = Folder::open(child(session_, QLatin1String(exportsName)), LinkPolicy::NoFollow);
    const auto removeRecord = [&] {
        FileSystemCall::attempt("unlink", [&] { return ::unlinkat(exports.fd(), recordName.constData(), 0); });
    };

    // A hidden, uniquely named folder beside the destination: on its file system, so the
    // finished file can be moved into place by a rename. Its name is recorded before it is
    // made, so a crash at any later call leaves a folder the next launch's cleanup knows of.
    ExportRecord pending{result.owner, {}, bookmark(QUrl::fromLocalFile(folder)), std::nullopt, std::nullopt};
    QByteArray path;
    for (int attempt = 1;; ++attempt) {
        pending.stagingName = QLatin1String(stagingPrefix) + stagingSuffix();
        exports.writeAtomically(recordName, StrictJson::dump(pending.toJson()));
        path = encodedPath(folder + QLatin1Char('/') + *pending.stagingName);
        try {
            FileSystemCall::run("mkdir", [&] { return ::mkdir(path.constData(), 0700); });
            break;
        } catch (const SystemError &error) {
            if (error.errnoValue() != EEXIST || attempt == 100) {
                try {
                    removeRecord();
                } catch (...) {
                }
                throw;
            }
        }
    }
    const QUrl staging = QUrl::fromLocalFile(decodedPath(path));

    result.url = staging;
    std::optional<TemporaryAudioSafety::Identity> identity;
    try {
        const Folder stagingFolder = Folder::open(decodedPath(path), LinkPolicy::NoFollow);
        FileSystemCall::run("chmod", [&] { return ::fchmod(stagingFolder.fd(), 0700); });
        identity = TemporaryAudioSafety::directoryIdentity(staging);
        if (TemporaryAudioSafety::identityOf(FileStatus::of(stagingFolder.fd())) != *identity)
            throw SystemError(EACCES, QStringLiteral("staging identity"));
        result.identity = *identity;
        stagingFolder.writeExclusively(stagingOwnerName, StrictJson::dump(result.owner.toJson()));
        // Flush the new folder's entry before it is recorded. A folder we may write but not
        // read (a drop box) cannot be opened for that; exporting there still works.
        try {
            Folder::open(folder).sync();
        } catch (const SystemError &error) {
            if (error.errnoValue() != EACCES)
                throw;
        }

        const ExportRecord record{result.owner, *identity, bookmark(staging), std::nullopt, std::nullopt};
        exports.writeAtomically(recordName, StrictJson::dump(record.toJson()));
        result.record = QUrl::fromLocalFile(exports.pathOf(recordName));
    } catch (...) {
        // The folder goes before its record: what a failure here leaves stays recorded.
        try {
            if (identity)
                TemporaryAudioSafety::removeTree(staging, *identity);
            else
                FileSystemCall::run("rmdir", [&] { return ::rmdir(path.constData()); });
            removeRecord();
        } catch (...) {
        }
        throw;
    }
    return result;
}

} // namespace tampod
