#pragma once

#include "files/store/temporary_audio_store.h"

#include <QUrl>

#include <optional>

namespace tampod {

// A staging folder handed to an exporter: the folder, its record in the session, the identity
// it was made with and the owner written into its "tampod-owner.json".
struct TemporaryExportDirectory {
    QUrl url;
    std::optional<QUrl> record;
    TemporaryAudioSafety::Identity identity;
    TemporaryAudioStore::Owner owner;

    // Deletes the folder, then its record. Deletes nothing when the owner file is missing,
    // unreadable, a link, hard-linked or another owner's, or when the folder's identity
    // changed. Never throws; what could not be removed is left for the launch cleanup.
    void remove() const noexcept;
};

} // namespace tampod
