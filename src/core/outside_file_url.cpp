#include "core/outside_file_url.h"

#include "core/native_path.h"

namespace tampod {

QString localPathOf(const QUrl &url)
{
    const QString decoded = url.toLocalFile();
    // A path of ours keeps its bytes as text already; only a replaced byte needs the escapes.
    if (!decoded.contains(QChar::ReplacementCharacter) || hasUndecodedBytes(decoded))
        return decoded;
    return decodedPath(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

} // namespace tampod
