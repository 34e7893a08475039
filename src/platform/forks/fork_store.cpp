#include "platform/forks/fork_store.h"

#include "core/error.h"
#include "core/file_handle.h"
#include "core/file_system_call.h"
#include "platform/forks/fork_store_error.h"

#include <cerrno>
#include <optional>
#include <sys/statfs.h>
#include <sys/xattr.h>

namespace tampod {

namespace {

constexpr ForkStore::Source readOrder[] = {ForkStore::Source::pseudoFile,
                                           ForkStore::Source::netatalkAttribute,
                                           ForkStore::Source::appleAttribute};

// Errors that mean "this place holds no fork": the file or the pseudo-file does not exist,
// the attribute is not set, or the file system keeps no extended attributes at all (a FAT
// stick must still import its SD2 files through their companions).
bool meansAbsent(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ENODATA || error == ENOTSUP ||
           error == EOPNOTSUPP;
}

class SystemBackend final : public ForkStore::Backend {
public:
    explicit SystemBackend(bool pseudoFileEverywhere) : pseudoFileEverywhere_(pseudoFileEverywhere) {}

    ForkStore::Probe read(const QString &path, ForkStore::Source source,
                          qint64 limit) const override
    {
        if (source == ForkStore::Source::pseudoFile)
            return readPseudoFile(path, limit);
        return readAttribute(path, ForkStore::attributeName(source), limit);
    }

    int write(const QString &path, const QByteArray &bytes) const override
    {
        try {
            // Never through a link: the fork would land on whatever file it names.
            FileHandle file = FileHandle::openForUpdate(path);
            const char *name = ForkStore::attributeName(ForkStore::Source::netatalkAttribute);
            FileSystemCall::run("fsetxattr", [&] {
                return ::fsetxattr(file.fd(), name, bytes.constData(), size_t(bytes.size()), 0);
            });
            file.sync();
            return 0;
        } catch (const SystemError &error) {
            return error.errnoValue();
        }
    }

private:
    // A descriptor of the pseudo-file: a link, a folder or a device in its place holds no
    // fork of the file (ENOENT).
    static std::optional<FileHandle> openForReading(const QString &path, int *error)
    {
        try {
            return FileHandle::openOutside(path, LinkPolicy::NoFollow);
        } catch (const NotARegularFile &) {
            *error = ENOENT;
        } catch (const SystemError &failure) {
            *error = failure.errnoValue() == ELOOP ? ENOENT : failure.errnoValue();
        }
        return std::nullopt;
    }

    ForkStore::Probe readPseudoFile(const QString &path, qint64 limit) const
    {
        // HFS+ presents the fork as "<file>/rsrc"; only a regular file there counts. No other
        // file system has the pseudo-file, so others are not asked (an import reads many files).
        ForkStore::Probe probe;
        if (!pseudoFileEverywhere_ && !onHfsPlus(path)) {
            probe.error = ENOENT;
            return probe;
        }
        std::optional<FileHandle> file = openForReading(path + QStringLiteral("/rsrc"), &probe.error);
        if (!file)
            return probe;
        try {
            const qint64 size = file->size();
            if (size > limit) {
                probe.length = size;
                return probe;
            }
            // One byte past the limit, so a fork that grew since fstat is still caught.
            probe.bytes = file->readUpTo(limit + 1);
            probe.length = probe.bytes.size();
            if (probe.length > limit)
                probe.bytes.clear();
        } catch (const SystemError &error) {
            probe.error = error.errnoValue();
            probe.bytes.clear();
        }
        return probe;
    }

    static bool onHfsPlus(const QString &path)
    {
        constexpr decltype(statfs::f_type) hfsPlusMagic = 0x482b;
        struct statfs volume {};
        return ::statfs(encodedPath(path).constData(), &volume) == 0 && volume.f_type == hfsPlusMagic;
    }

    // Attributes are read by path, following a link as every reader of the user's file does;
    // no open is needed, so a FIFO or device cannot block here either.
    static ForkStore::Probe readAttribute(const QString &path, const char *name, qint64 limit)
    {
        ForkStore::Probe probe;
        const QByteArray native = encodedPath(path);
        // The value may change between asking its size and reading it; try a few times.
        for (int attempt = 0; attempt < 4; ++attempt) {
            const ssize_t size = ::getxattr(native.constData(), name, nullptr, 0);
            if (size < 0) {
                probe.error = errno;
                return probe;
            }
            probe.length = size;
            if (size > limit)
                return probe;
            probe.bytes.resize(size);
            if (size == 0)
                return probe;
            const ssize_t got = ::getxattr(native.constData(), name, probe.bytes.data(), size_t(size));
            if (got >= 0) {
                probe.bytes.truncate(got);
                probe.length = got;
                return probe;
            }
            if (errno != ERANGE) {
                probe.error = errno;
                probe.bytes.clear();
                return probe;
            }
        }
        probe.error = ERANGE;
        probe.bytes.clear();
        return probe;
    }

    bool pseudoFileEverywhere_;
};

} // namespace

std::shared_ptr<const ForkStore::Backend> ForkStore::systemBackend(bool pseudoFileEverywhere)
{
    static const auto usual = std::make_shared<const SystemBackend>(false);
    static const auto everywhere = std::make_shared<const SystemBackend>(true);
    return pseudoFileEverywhere ? everywhere : usual;
}

ForkStore::ForkStore() : backend_(systemBackend()) {}

ForkStore::ForkStore(std::shared_ptr<const Backend> backend) : backend_(std::move(backend)) {}

const char *ForkStore::attributeName(Source source)
{
    switch (source) {
    case Source::pseudoFile:
        return "";
    case Source::netatalkAttribute:
        return "user.org.netatalk.ResourceFork";
    case Source::appleAttribute:
        return "user.com.apple.ResourceFork";
    }
    return "";
}

bool ForkStore::hasFork(const QString &path) const noexcept
{
    try {
        for (const Source source : readOrder) {
            const Probe probe = backend_->read(path, source, 0);
            if (probe.error == 0 && probe.length > 0)
                return true;
        }
    } catch (...) {
    }
    return false;
}

std::optional<QByteArray> ForkStore::read(const QString &path, qint64 limit) const
{
    std::optional<QByteArray> found;
    for (const Source source : readOrder) {
        const Probe probe = backend_->read(path, source, limit);
        if (probe.error != 0) {
            if (meansAbsent(probe.error))
                continue;
            throw SystemError(probe.error, QStringLiteral("read resource fork"));
        }
        if (probe.length > limit)
            throw ForkStoreError(ForkStoreError::Kind::tooLarge, path, limit);
        if (probe.bytes.isEmpty())
            continue;
        if (found && *found != probe.bytes)
            throw ForkStoreError(ForkStoreError::Kind::conflicting, path);
        if (!found)
            found = probe.bytes;
    }
    return found;
}

void ForkStore::write(const QString &path, const QByteArray &bytes) const
{
    const qint64 length = bytes.size();
    for (const Source source : {Source::pseudoFile, Source::appleAttribute}) {
        const Probe probe = backend_->read(path, source, length);
        if (probe.error == 0 && probe.length > 0 && (probe.length != length || probe.bytes != bytes))
            throw ForkStoreError(ForkStoreError::Kind::conflicting, path);
    }
    const int error = backend_->write(path, bytes);
    if (error == ENOTSUP || error == EOPNOTSUPP)
        throw ForkStoreError(ForkStoreError::Kind::noAttributes, path);
    if (error == ENOSPC || error == E2BIG)
        throw ForkStoreError(ForkStoreError::Kind::noSpace, path, length);
    if (error != 0)
        throw SystemError(error, QStringLiteral("store resource fork"));
    if (read(path, length).value_or(QByteArray()) != bytes)
        throw ForkStoreError(ForkStoreError::Kind::notStored, path);
}

} // namespace tampod
