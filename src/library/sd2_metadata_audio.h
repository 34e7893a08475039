#pragma once

#include "library/sd2_metadata.h"
#include "library/sd2_recovered_copy.h"

#include <memory>

namespace tampod {

// An SD2 file played from a working copy built from its resource parameters.
struct SD2MetadataAudio {
    SD2Metadata metadata;
    std::shared_ptr<const SD2RecoveredCopy> copy; // never null
};

} // namespace tampod
