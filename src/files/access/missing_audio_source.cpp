#include "files/access/missing_audio_source.h"

#include "core/file_handle.h"
#include "files/access/source_access_failure.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tampod {

MissingAudioSource::MissingAudioSource(QString name)
    : Error(QStringLiteral("tampod.source-missing"), 1,
            name + QStringLiteral(" is no longer available. Reconnect its disk or restore the file, then try "
                                  "again. If it was moved to another disk, remove its library row and reopen it "
                                  "from its current folder. Removing a row does not delete audio.")),
      name_(std::move(name))
{
}

namespace {

[[noreturn]] void fail(int error, const QString &name, const char *operation)
{
    if (error == ENOENT || error == ENOTDIR)
        throw MissingAudioSource(name);
    if (error == EACCES || error == EPERM)
        throw SourceAccessFailure::denied();
    throw SystemError(error, QString::fromLatin1(operation));
}

} // namespace

void MissingAudioSource::check(const QUrl &url, const QString &name)
{
    if (!url.isLocalFile())
        throw MissingAudioSource(name);
    const QByteArray path = encodedPath(url.toLocalFile());
    struct stat st {};
    if (path.isEmpty())
        throw MissingAudioSource(name);
    if (::stat(path.constData(), &st) != 0)
        fail(errno, name, "stat");
    // A file removed between the two calls is still a missing file, not a permission problem.
    if (::faccessat(AT_FDCWD, path.constData(), R_OK, AT_EACCESS) != 0)
        fail(errno, name, "faccessat");
}

std::optional<QString> MissingAudioSource::message(const std::exception_ptr &error)
{
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const MissingAudioSource &e) {
        return e.message();
    } catch (const SourceAccessFailure &e) {
        return e.message();
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace tampod
