#pragma once

#include "core/file_handle.h"

#include <QByteArray>
#include <QList>

#include <cstdint>

// The MPEG-4 box (atom) model of the tempo reader and writer. Every breach of the size rules
// throws TempoWriteError(tempoMetadata); FileHandle errors pass through. Walking the top-level
// boxes stops with Cancelled when the current task is cancelled.
namespace tampod::Mpeg4Boxes {

inline constexpr std::uint64_t maximumMoovSize = 16'777'216; // header included
inline constexpr int maximumBoxesBeforeMoov = 4'095;
inline constexpr int maximumChildren = 65'536;

// One child box split out of its parent's bytes.
struct Box {
    QByteArray name;   // the 4 type bytes
    qsizetype start;   // within the parent's bytes, header included
    qsizetype size;
    QByteArray body;   // the bytes after the 8-byte header
};

struct Moov {
    std::uint64_t offset; // where its size field stands in the file
    std::uint64_t size;   // the whole box, header included
    bool sizeToEnd;       // its size field is 0: it runs to the end of the file
    QByteArray body;
};

// The first top-level "moov" among the first 4,096 boxes, at most 16 MiB. Only the headers of
// the boxes before it are read.
Moov loadMoov(const FileHandle &file);

// The consecutive child boxes of a body: 32-bit sizes only, at least 8 each, at most 65,536.
QList<Box> boxes(const QByteArray &data);

// One box: 32-bit size, the 4-byte name, the body.
QByteArray box(const QByteArray &name, const QByteArray &body);

// The first box of the list with that name, or nullptr.
const Box *child(const QList<Box> &list, const char *name);
// The answer points into the list, which must outlive it.
const Box *child(QList<Box> &&list, const char *name) = delete;

} // namespace tampod::Mpeg4Boxes
