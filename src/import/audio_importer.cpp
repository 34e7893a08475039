#include "import/audio_importer.h"

#include "concurrency/thread_role.h"
#include "import/internal/import_job.h"
#include "library/audio_file_extensions.h"

#include <cerrno>

namespace tampod {

const QSet<QString> &AudioImporter::audioExtensions()
{
    return audioFileExtensions();
}

AudioImporter::EntryKind AudioImporter::entryKind(const Folder &folder, const Folder::Entry &entry)
{
    // The listing's own type costs no call; only file systems that give none are asked.
    mode_t mode = entry.listedType();
    if (mode == 0) {
        const auto status = folder.status(entry.name, LinkPolicy::NoFollow);
        if (!status)
            throw SystemError(ENOENT, QStringLiteral("fstatat"));
        mode = status->st_mode;
    }
    return S_ISLNK(mode) ? EntryKind::link : S_ISDIR(mode) ? EntryKind::folder : EntryKind::file;
}

AudioImporter::AudioImporter() : AudioImporter(Services{}) {}

AudioImporter::AudioImporter(Services services)
    : services_(std::move(services)), executor_(QStringLiteral("Audio importer"))
{
}

Async<AudioImportResult> AudioImporter::load(QList<QUrl> urls, QSet<QUrl> excluding, CancellationToken token)
{
    return executor_.submit([this, urls = std::move(urls), excluding = std::move(excluding),
                             token = std::move(token)]() mutable {
        TAMPOD_ASSERT_ON(executor_);
        const CurrentCancellation::Scope scope(token);
        return ImportJob(services_, audioTypes_, std::move(excluding), token).run(urls);
    });
}

} // namespace tampod
