#pragma once

#include <QByteArray>

namespace tampod::test {

// Tags as taggers append them after the audio: an ID3v1 tag, an APE tag of one item (with or
// without its header), and the Lyrics3 tag that comes before an ID3v1 tag.
QByteArray id3v1Tag();
QByteArray apeTag(bool withHeader = true);
QByteArray lyrics3Tag();

} // namespace tampod::test
