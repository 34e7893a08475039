#pragma once

#include <QByteArray>
#include <QString>

namespace tampod {

// The one encoding between our path texts and the bytes the system takes. A file name is any
// byte string, not always UTF-8 (archives from older systems carry Latin-1 names): decoding
// keeps each byte of an invalid sequence as a lone surrogate U+DC80..U+DCFF, and encoding
// turns that back into the byte, so every name a folder lists reaches its file again.
// encodedPath(decodedPath(bytes)) == bytes for any bytes.
QByteArray encodedPath(const QString &path);
QString decodedPath(const QByteArray &native);

// A file URL carrying the path's own bytes, percent-encoded, for programs that read them back.
QByteArray fileUrlBytes(const QString &path);

// Whether a path text holds bytes that are not UTF-8 (as decodedPath keeps them).
bool hasUndecodedBytes(const QString &path);
// A path or name for showing: each byte that is not UTF-8 reads as U+FFFD.
QString displayedPath(const QString &path);

} // namespace tampod
