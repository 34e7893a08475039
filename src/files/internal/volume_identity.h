#pragma once

#include <QString>

#include <sys/statfs.h>
#include <sys/types.h>

namespace tampod::VolumeIdentity {

// The identity text of the volume holding a file, as an upper-case UUID: the file system's
// UUID when one can be read without privileges (/dev/disk/by-uuid), otherwise the statfs
// file-system id laid out as a UUID, otherwise (a zero id) the device number laid out the same
// way. Answers are kept for the process, so a volume keeps one text however often it is asked.
// Safe on any thread.
QString text(dev_t device, fsid_t fsid);

} // namespace tampod::VolumeIdentity
