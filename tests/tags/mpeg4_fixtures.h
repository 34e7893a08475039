#pragma once

// Reading the top-level box list of an MPEG-4 file in the tag tests.
#include "core/byte_reader.h"

#include <QByteArray>
#include <QList>

namespace tampod::test::mpeg4 {

struct TopBox {
    QByteArray name;
    qsizetype offset, size;
};

// The top-level boxes with 32- or 64-bit sizes; a size of 0 runs to the end.
inline QList<TopBox> topLevel(const QByteArray &file)
{
    QList<TopBox> list;
    const ByteReader in(file);
    for (qsizetype offset = 0; offset + 8 <= file.size();) {
        qsizetype size = in.u32beAt(static_cast<size_t>(offset));
        if (size == 1)
            size = static_cast<qsizetype>(ByteReader(file.mid(offset + 8, 8)).u64be());
        else if (size == 0)
            size = file.size() - offset;
        list.append({file.mid(offset + 4, 4), offset, size});
        if (size < 8)
            break;
        offset += size;
    }
    return list;
}

} // namespace tampod::test::mpeg4
