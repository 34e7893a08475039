#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace tampod {

// Where a file's classic resource fork lives on Linux. Reading tries, in order, the HFS+
// "<file>/rsrc" pseudo-file, then the extended attributes that netatalk and Samba use, then the
// one some copy tools leave; every place that holds bytes must hold the same bytes. Writing
// goes to the netatalk attribute, which moves with the file on rename. AppleDouble companion
// files are not forks of the file itself and are left to their readers.
class ForkStore {
public:
    enum class Source { pseudoFile, netatalkAttribute, appleAttribute };

    // What one place holds: error is 0 or an errno value; length is the full length, and bytes
    // are filled only when length is within the limit asked for.
    struct Probe {
        int error = 0;
        qint64 length = 0;
        QByteArray bytes;
    };

    // The file-system calls, replaceable so tests can simulate what disks do.
    class Backend {
    public:
        virtual ~Backend() = default;
        virtual Probe read(const QString &path, Source source, qint64 limit) const = 0;
        // Stores bytes in the netatalk attribute and syncs the file; returns 0 or errno.
        virtual int write(const QString &path, const QByteArray &bytes) const = 0;
    };

    ForkStore();
    explicit ForkStore(std::shared_ptr<const Backend> backend);

    // The real file system. The HFS+ pseudo-file is asked only on HFS+ volumes unless
    // pseudoFileEverywhere (tests stand a folder in for such a file elsewhere).
    static std::shared_ptr<const Backend> systemBackend(bool pseudoFileEverywhere = false);

    static const char *attributeName(Source source);

    // True when some place holds a non-empty fork. Failures count as no fork.
    bool hasFork(const QString &path) const noexcept;

    // The fork, or none when no place holds bytes. A missing file, a missing place and a file
    // system without extended attributes all mean "no fork". Throws ForkStoreError (tooLarge
    // above limit bytes, conflicting) or SystemError for any other failure.
    std::optional<QByteArray> read(const QString &path, qint64 limit) const;

    // Stores the fork and proves it by reading it back. Refuses to write when another place
    // already holds a different fork, since the file would then read as conflicting. Throws
    // ForkStoreError (noAttributes, noSpace, conflicting, notStored) or SystemError.
    void write(const QString &path, const QByteArray &bytes) const;

private:
    std::shared_ptr<const Backend> backend_;
};

} // namespace tampod
