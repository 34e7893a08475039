#include "platform/forks/fork_store_error.h"

#include "core/native_path.h"
#include "core/number_text.h"

#include <QFileInfo>

namespace tampod {

namespace {

QString describe(ForkStoreError::Kind kind, const QString &path, qint64 length)
{
    const QString name = displayedPath(QFileInfo(path).fileName());
    const QString bytes = NumberText::wholeQ(length);
    switch (kind) {
    case ForkStoreError::Kind::conflicting:
        return QStringLiteral("The file “%1” carries different copies of its resource fork.")
            .arg(name);
    case ForkStoreError::Kind::tooLarge:
        return QStringLiteral("The resource fork of “%1” is larger than %2 bytes.")
            .arg(name, bytes);
    case ForkStoreError::Kind::noAttributes:
        return QStringLiteral("The resource fork of “%1” can’t be stored: its file system doesn’t "
                              "support extended attributes.")
            .arg(name);
    case ForkStoreError::Kind::noSpace:
        return QStringLiteral("The resource fork of “%1” (%2 bytes) doesn’t fit in the extended "
                              "attributes of its file system.")
            .arg(name, bytes);
    case ForkStoreError::Kind::notStored:
        return QStringLiteral("The resource fork of “%1” didn’t read back as written.").arg(name);
    }
    return {};
}

} // namespace

ForkStoreError::ForkStoreError(Kind kind, const QString &path, qint64 length)
    : Error(QStringLiteral("tampod.fork"), int(kind), describe(kind, path, length)), kind_(kind)
{
}

} // namespace tampod
