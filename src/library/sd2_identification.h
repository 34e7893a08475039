#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// Recognising SD2 files and the .L/.R channel files of split stereo recordings by name alone.
// Nothing here throws.
namespace tampod::SD2Identification {

struct ChannelName {
    QString stem;    // the recording's name, shared by both channel files
    QString channel; // "L" or "R"

    bool operator==(const ChannelName &) const = default;
};

// An SD2 extension (sd2, sd2f, l, r, any case), or no extension and a name ending in "sd2".
bool hasLegacyName(const QUrl &url);

// "<stem>.L" or "<stem>.R" (after dropping an sd2/sd2f extension), optionally followed by
// "-export" or "-export-<digits>", which then belongs to the stem.
std::optional<ChannelName> channelName(const QUrl &url);

} // namespace tampod::SD2Identification
