#include "sd2/sd2_metadata_error.h"

namespace tampod {

SD2MetadataError::SD2MetadataError(Case which)
    : Error(QStringLiteral("tampod.sd2.metadata"), int(which), description(which)), case_(which)
{
}

QString SD2MetadataError::description(Case which)
{
    switch (which) {
    case Case::invalid:
        return QStringLiteral(
            "SD2 resource metadata is damaged or incomplete. The original was not changed.");
    case Case::unsupported:
        return QStringLiteral(
            "This SD2 metadata uses unsupported parameters or compressed resources. Supported: "
            "integer 8/16/24/32-bit PCM, mono/stereo, whole-number rates from 8–192 kHz.");
    case Case::tooLarge:
        return QStringLiteral("SD2 resource metadata exceeds the 4 MB inspection limit.");
    case Case::conflicting:
        return QStringLiteral("The SD2 resource fork and companion metadata disagree. Resolve the "
                              "conflicting copies before importing.");
    case Case::access:
        return QStringLiteral(
            "SD2 companion metadata cannot be read safely. Open its containing folder to grant "
            "access, and use original files rather than symbolic links.");
    }
    return {};
}

} // namespace tampod
