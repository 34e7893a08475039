#include "import/internal/import_job.h"

#include "import/internal/import_texts.h"
#include "platform/decode/audio_file_reader.h"
#include "sd2/sd2_library_order.h"

#include <QCollator>
#include <QDir>
#include <QLocale>

#include <algorithm>
#include <climits>
#include <vector>

namespace tampod {

namespace {

// The last component of a path, also for a folder given with a trailing slash.
QString lastComponent(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    return clean.mid(clean.lastIndexOf(QLatin1Char('/')) + 1);
}

QString nameOf(const QUrl &url)
{
    return url.isLocalFile() ? lastComponent(url.toLocalFile()) : url.fileName();
}

// Whether a top-level item is a folder (a link is not one); none when that cannot be told.
std::optional<bool> isFolder(const QUrl &url)
{
    if (!url.isLocalFile())
        return std::nullopt;
    const auto status = statusOf(QDir::cleanPath(url.toLocalFile()), LinkPolicy::NoFollow);
    if (!status)
        return std::nullopt;
    return S_ISDIR(status->st_mode);
}

// One folder of the walk: its descriptor and its visible entries, walked in listing order.
struct Listing {
    Folder folder;
    std::vector<std::pair<QByteArray, unsigned char>> entries; // name, d_type
    std::size_t next = 0;
};

} // namespace

ImportJob::ImportJob(const AudioImporter::Services &services, QHash<QString, bool> &audioTypes, QSet<QUrl> excluding,
                     CancellationToken token)
    : services_(services), audioTypes_(audioTypes), token_(std::move(token)), seen_(std::move(excluding))
{
}

AudioImportResult ImportJob::run(const QList<QUrl> &urls)
{
    for (const QUrl &url : urls) {
        token_.throwIfCancelled();
        const auto lease = std::make_shared<const FileAccessLease>(url);
        const std::optional<bool> folder = isFolder(url);
        if (!folder)
            refuse(nameOf(url), ImportText::unavailable);
        else if (*folder)
            walkFolder(url.toLocalFile(), lease);
        else if (scanned_ <= AudioImporter::maximumFiles - 1) {
            inspect({url.toLocalFile()}, lease, false);
            ++scanned_;
        } else {
            refuse(nameOf(url), ImportText::fileLimit);
        }
    }
    finish();
    // A cancellation noticed by a service that gives up quietly (the tag reader) still
    // withholds the whole result.
    token_.throwIfCancelled();
    return std::move(result_);
}

void ImportJob::walkFolder(const QString &path, const Lease &lease)
{
    const QString top = QDir::cleanPath(path);
    const QString folderName = lastComponent(top);
    QList<ImportRejection> errors;
    bool goOn = true;
    // An item the walk cannot read; the 10,000th ends the walk.
    const auto walkError = [&](const QString &name) {
        goOn = errors.size() < AudioImporter::maximumWalkErrors - 1;
        errors.append({displayedPath(name), ImportText::folderAccess});
    };
    std::vector<Listing> stack;
    const auto enter = [&](Folder folder) {
        Listing listing{std::move(folder), {}, 0};
        try {
            // A walk examines at most 50,000 entries, so a folder of millions is listed no
            // further than that (and one more, to tell that the limit stopped it).
            listing.folder.visitEntries(INT_MAX, [&](const Folder::Entry &entry) {
                if (entry.name[0] != '.')
                    listing.entries.emplace_back(QByteArray(entry.name), entry.type);
                return listing.entries.size() > std::size_t(AudioImporter::maximumFolderEntries);
            });
        } catch (const std::exception &) {
            walkError(lastComponent(listing.folder.path()));
        }
        stack.push_back(std::move(listing));
    };
    try {
        enter(Folder::open(top, LinkPolicy::NoFollow));
    } catch (const std::exception &) {
        refuse(folderName, ImportText::folderUnreadable);
        return;
    }

    QStringList files;
    int entries = 0;
    while (goOn && !stack.empty()) {
        Listing &listing = stack.back();
        if (listing.next == listing.entries.size()) {
            stack.pop_back();
            continue;
        }
        // Copies: entering a subfolder grows the stack and moves this listing.
        const QByteArray name = listing.entries[listing.next].first;
        const unsigned char type = listing.entries[listing.next].second;
        ++listing.next;
        token_.throwIfCancelled();
        if (entries == AudioImporter::maximumFolderEntries
            || scanned_ + files.size() >= AudioImporter::maximumFiles) {
            refuse(folderName, ImportText::folderLimit);
            break;
        }
        ++entries;
        const QString itemName = decodedPath(name);
        AudioImporter::EntryKind kind;
        try {
            kind = services_.entryKind(listing.folder, Folder::Entry{name.constData(), 0, type});
        } catch (const std::exception &) {
            refuse(itemName, ImportText::itemAccess);
            continue;
        }
        switch (kind) {
        case AudioImporter::EntryKind::link:
            refuse(itemName, ImportText::symbolicLink);
            break;
        case AudioImporter::EntryKind::folder:
            try {
                enter(listing.folder.openSubfolder(name));
            } catch (const std::exception &) {
                walkError(itemName);
            }
            break;
        case AudioImporter::EntryKind::file:
            files.append(listing.folder.pathOf(name));
            break;
        }
    }
    stack.clear();
    result_.rejections.append(errors);

    // Localised order (numbers by value, letters without case); equal paths keep the walk's order.
    // Under the C locale a collator compares code points, with neither mode: the root order
    // of English stands in for it.
    QCollator collator{QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale()};
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<std::pair<QCollatorSortKey, qsizetype>> keys;
    keys.reserve(std::size_t(files.size()));
    for (qsizetype i = 0; i < files.size(); ++i)
        keys.emplace_back(collator.sortKey(files[i]), i);
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto &a, const auto &b) { return a.first.compare(b.first) < 0; });

    if (files.isEmpty()) {
        if (errors.isEmpty())
            refuse(folderName, ImportText::noVisibleFiles);
        return;
    }
    QStringList sorted;
    sorted.reserve(files.size());
    for (const auto &key : keys)
        sorted.append(files[key.second]);
    inspect(sorted, lease, true);
    scanned_ += int(files.size());
}

void ImportJob::finish()
{
    for (AudioTrack &track : result_.tracks) {
        if (!track.isSD2())
            continue;
        if (!track.recovery || track.recovery->copy) {
            try {
                AudioFileReader reader(track.audioURL().toLocalFile(), token_);
                track.importedSD2Frames = reader.length();
            } catch (const Cancelled &) {
                throw;
            } catch (const std::exception &) {
            }
        } else if (const auto &requested = track.recovery->requested) {
            const auto source = statusOf(track.url().toLocalFile(), LinkPolicy::Follow);
            const qint64 frameBytes = qint64(requested->sampleBytes) * requested->channels;
            if (source && frameBytes > 0 && source->st_size % frameBytes == 0)
                track.importedSD2Frames = source->st_size / frameBytes;
        }
    }
    result_.tracks = SD2LibraryOrder::grouped(result_.tracks);
}

void ImportJob::refuse(const QString &name, const QString &reason)
{
    result_.rejections.append({displayedPath(name), reason});
}

} // namespace tampod
