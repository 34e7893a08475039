#pragma once

// Private to the platform module.

#include <cstdint>

namespace tampod {
class FileHandle;
}

namespace tampod::trailingtags {

// Where the audio of a raw coded stream (MP3, AAC, AC-3) ends: before the ID3v1 and APE tags
// that follow its last frame, in either order. fileSize where there are none; never before start.
// Throws only when reading the file fails.
int64_t audioEnd(const FileHandle &file, int64_t start, int64_t fileSize);

} // namespace tampod::trailingtags
