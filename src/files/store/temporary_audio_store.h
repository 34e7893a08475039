#pragma once

#include "core/strict_json.h"
#include "files/store/temporary_audio_lock.h"
#include "files/store/temporary_audio_safety.h"

#include <QCoro/QCoroTask>

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace tampod {

struct TemporaryExportDirectory;

// The private area for files the application makes for itself: one session folder per launch
// under the store root (locked for the life of the process, recorded in "owner.json"), job
// folders inside it, and export staging folders next to export destinations, each recorded in
// the session's "exports" folder so that a later launch can find and clean what this one left.
// Immutable after construction; its operations may run on any thread at the same time.
class TemporaryAudioStore {
public:
    // Who owns a session or a staging folder. Equal when both texts are equal.
    struct Owner {
        QString signature;
        QString id;

        bool operator==(const Owner &) const = default;

        // The application's fixed signature: bundle identifier + ".temporary-audio.v1".
        static QString standardSignature();

        StrictJson::Json toJson() const;
        static Owner fromJson(const StrictJson::Json &json);
    };

    // The content of a session's "owner.json".
    struct SessionOwner {
        Owner owner;
        TemporaryAudioSafety::Identity directory;
        TemporaryAudioSafety::Identity lock;

        StrictJson::Json toJson() const;
        static SessionOwner fromJson(const StrictJson::Json &json);
    };

    // The record of one staging folder in the session's "exports" folder. isSplitPair is
    // written only when present; the split-export journal sets it. While the folder is being
    // made, stagingName is its name, chosen beforehand, in the folder the bookmark names, and
    // the identity is not known yet (not written).
    struct ExportRecord {
        Owner owner;
        TemporaryAudioSafety::Identity identity;
        QByteArray bookmark;
        std::optional<bool> isSplitPair;
        std::optional<QString> stagingName;

        StrictJson::Json toJson() const;
        static ExportRecord fromJson(const StrictJson::Json &json);
    };

    using BookmarkMaker = std::function<QByteArray(const QUrl &)>;

    // Opens a new session under root (creating root 0700 when missing). Throws the POSIX error
    // of the failed step; a half-made session folder is removed first. A session folder that
    // another launch's cleanup took while it was still empty is made again under a new id.
    explicit TemporaryAudioStore(const QUrl &root);
    // The same with a chosen session id (an upper-case UUID text) and a hook that runs once the
    // empty session folder exists, before anything is put in it (tests plant entries there).
    using SessionHook = std::function<void(const QUrl &session)>;
    TemporaryAudioStore(const QUrl &root, const QString &sessionId, const SessionHook &hook = {});
    ~TemporaryAudioStore();
    TemporaryAudioStore(const TemporaryAudioStore &) = delete;
    TemporaryAudioStore &operator=(const TemporaryAudioStore &) = delete;

    // The process-wide store under defaultRoot(), built once on first use. When building it
    // failed, every call rethrows that same error; it is never retried.
    static TemporaryAudioStore &shared();
    // $XDG_CACHE_HOME/tamPOD/tamPOD-owned-audio-v1 (default ~/.cache): per user, because a
    // shared temporary folder lets another user plant the root.
    static QUrl defaultRoot();

    const QUrl &root() const noexcept { return root_; }
    const QUrl &session() const noexcept { return session_; }
    const QString &sessionId() const noexcept { return sessionId_; }
    const TemporaryAudioLock &lock() const noexcept { return *lock_; }

    // A new empty job folder session/jobs/UUID (0700). The caller owns and deletes it.
    QUrl makeDirectory() const;

    // A new staging folder next to destination (on its file system), marked by
    // "tampod-owner.json" and recorded in the session. When the folder cannot be recorded it is
    // removed again and the error thrown, so no unrecorded folder is ever left in the user's
    // folder.
    TemporaryExportDirectory makeExportDirectory(const QUrl &destination,
                                                 const BookmarkMaker &bookmark = defaultBookmark) const;

    static QByteArray defaultBookmark(const QUrl &folder);

    static constexpr char rootName[] = "tamPOD-owned-audio-v1";
    static constexpr char lockName[] = "lock";
    static constexpr char ownerName[] = "owner.json";
    static constexpr char jobsName[] = "jobs";
    static constexpr char exportsName[] = "exports";
    static constexpr char stagingOwnerName[] = "tampod-owner.json";
    static constexpr char stagingPrefix[] = ".tampod-staging-";

private:
    void open(const SessionHook &hook);

    QUrl root_;
    QString sessionId_;
    QUrl session_;
    std::unique_ptr<TemporaryAudioLock> lock_;
};

} // namespace tampod
