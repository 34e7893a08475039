#pragma once

#include "concurrency/cancellation.h"

#include <QList>
#include <QString>

// The generic tags a media demuxer finds in a file: the container's, then each stream's. The
// file's format is recognised from its content, among the demuxers of the formats we open;
// streams are not probed.
namespace tampod::MediaTagReader {

struct Tag {
    QString key;
    QString value;
};

// One list per place tags were found, the container first, then the streams in their order;
// places without tags are left out. Throws SystemError when the file cannot be opened,
// MalformedData when it is no regular file or not recognised, Cancelled when
// the token is cancelled while reading.
QList<QList<Tag>> read(const QString &path, const CancellationToken &token);

} // namespace tampod::MediaTagReader
