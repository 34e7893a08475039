#pragma once

#include <QString>

#include <optional>
#include <sys/statfs.h>
#include <sys/types.h>

namespace tampod::VolumeIdentity {

// The identity text of the volume holding a file: the file system's UUID when one can be
// read without privileges (/dev/disk/by-uuid), otherwise the statfs file-system id laid out
// as a UUID. nullopt when the file-system id is zero. Answers are kept for the process, so a
// volume keeps one text however often it is asked. Safe on any thread.
std::optional<QString> text(dev_t device, fsid_t fsid);

} // namespace tampod::VolumeIdentity
