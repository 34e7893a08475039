#pragma once

#include <QByteArray>
#include <QtEndian>

namespace tampod::test {

// A tenth of a second of 16-bit mono silence at 44.1 kHz: a file the application opens without
// a word.
inline QByteArray wav()
{
    const quint32 bytes = 8820;
    QByteArray data("RIFF....WAVEfmt \x10\0\0\0\1\0\1\0\x44\xac\0\0\x88\x58\x01\0\2\0\x10\0data....", 44);
    qToLittleEndian<quint32>(36 + bytes, data.data() + 4);
    qToLittleEndian<quint32>(bytes, data.data() + 40);
    return data + QByteArray(bytes, '\0');
}

} // namespace tampod::test
