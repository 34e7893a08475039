#pragma once

// Private to the platform module.

#include <cstdint>
#include <vector>

namespace tampod {
class FileHandle;
}

namespace tampod::trailingtags {

// Where the audio of a raw coded stream (MP3, AAC, AC-3) may end: fileSize, then before each
// ID3v1 and APE tag that may follow its last frame (in either order, a Lyrics3 v2 tag before
// an ID3v1 one), latest first; never before
// start. Bytes that look like a tag may as well be a frame's: only a walk of the frames that ends
// on one tells. Throws only when reading the file fails.
std::vector<int64_t> possibleEnds(const FileHandle &file, int64_t start, int64_t fileSize);

// The earliest of those: the bytes to judge a stream's content by, and where a stream no walk
// vouches for is taken to end.
int64_t audioEnd(const FileHandle &file, int64_t start, int64_t fileSize);

} // namespace tampod::trailingtags
