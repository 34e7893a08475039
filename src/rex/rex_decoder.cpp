#include "rex/rex_decoder.h"

#include "concurrency/thread_role.h"
#include "core/file_handle.h"
#include "files/store/job_folder.h"
#include "files/store/temporary_audio_safety.h"
#include "library/rex_error.h"
#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/encode/audio_file_writer.h"
#include "rex/rex_library.h"
#include "rex/rex_render_buffer.h"

#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

namespace tampod {

namespace {

// One state of the source file, looked up afresh by its path each time (a link is described,
// not followed): a rewrite, growth or swap between the read and the end of the render shows.
struct Stamp {
    qint64 size = 0;
    std::optional<std::pair<qint64, qint64>> modified; // seconds, nanoseconds
    QString identity;                                  // "device:inode"

    bool operator==(const Stamp &) const = default;

    static Stamp of(const QString &path)
    {
        const auto status = statusOf(path, LinkPolicy::NoFollow);
        if (!status)
            throw SystemError(ENOENT, QStringLiteral("stat"));
        if (!S_ISREG(status->st_mode))
            throw REXError::changed();
        return {qint64(status->st_size), std::pair{qint64(status->st_mtim.tv_sec), qint64(status->st_mtim.tv_nsec)},
                QString::number(quint64(status->st_dev)) + QLatin1Char(':') + QString::number(quint64(status->st_ino))};
    }
};

// The library gives its progress callback no context of ours, so the job's cancellation is
// reached through the worker's current token.
std::int32_t progress(std::int32_t, void *)
{
    return CurrentCancellation::isCancelled() ? 1 : 2;
}

// The library's loop handle and its preview, let go in the order the library expects.
class LoopHandle {
public:
    LoopHandle() = default;
    ~LoopHandle()
    {
        if (started)
            stop(handle);
        if (handle)
            remove(&handle);
    }
    LoopHandle(const LoopHandle &) = delete;
    LoopHandle &operator=(const LoopHandle &) = delete;

    REXEntry::Handle handle = nullptr;
    REXEntry::Delete remove = nullptr;
    REXEntry::StopPreview stop = nullptr;
    bool started = false;
};

REXInfo readInfo(const std::function<std::int32_t(std::int32_t *)> &call)
{
    std::vector<std::int32_t> words(REXLibrary::infoWords, 0);
    REXLibrary::check(call(words.data()));
    return REXInfo::fromWords(words);
}

// Renders the whole loop, batch by batch through one buffer, into a new CAF file of 32-bit
// little-endian float frames. Any failure of the file itself is a verification failure.
void renderCopy(REXEntry::Handle handle, const REXInfo &info, const QString &destination,
                REXEntry::RenderPreviewBatch render)
{
    REXRenderBuffer buffer(info.channels);
    const AudioWriteFormat format{AudioFileType::caf, info.sampleRate, info.channels, 32, true, 0};
    const auto writing = [](const auto &step) {
        try {
            step();
        } catch (const AudioFileError &) {
            throw REXError::verification();
        } catch (const SystemError &) {
            throw REXError::verification();
        }
    };
    std::optional<AudioFileWriter> writer;
    writing([&] { writer.emplace(destination, format); });
    const std::int64_t total = info.frames();
    for (std::int64_t rendered = 0; rendered < total;) {
        CurrentCancellation::throwIfCancelled();
        const int frames = REXRenderBuffer::nextBatch(total, rendered);
        REXLibrary::check(render(handle, frames, buffer.outputs()));
        buffer.checkFinite(frames);
        writing([&] { writer->writeInterleaved(buffer.interleave(frames), frames); });
        rendered += frames;
    }
    writing([&] { writer->finish(); });
}

// The copy as an independent reader sees it must be exactly what was rendered.
void verifyCopy(const QString &path, const REXInfo &info)
{
    AudioFileReader reader(path);
    const AudioFileFormat &format = reader.fileFormat();
    if (format.container != QLatin1String("caf") || !format.isFloat || format.bitsPerChannel != 32
        || reader.fileSampleRate() != double(info.sampleRate) || reader.channels() != info.channels
        || reader.length() != info.frames())
        throw REXError::verification();
}

} // namespace

const QSet<QString> &REXDecoder::extensions()
{
    static const QSet<QString> set{QStringLiteral("rex"), QStringLiteral("rx2"), QStringLiteral("rcy")};
    return set;
}

REXDecoder::REXDecoder(QString libraryPath, StoreProvider store)
    : libraryPath_(std::move(libraryPath)), store_(std::move(store)), executor_(QStringLiteral("REX decoder"))
{
}

const std::shared_ptr<REXDecoder> &REXDecoder::shared()
{
    static const auto instance = std::make_shared<REXDecoder>(REXLibrary::installedPath());
    return instance;
}

Async<REXAudioPointer> REXDecoder::prepare(QUrl url, CancellationToken token)
{
    return executor_.submit([this, url = std::move(url), token = std::move(token)] {
        const CurrentCancellation::Scope scope(token);
        return prepareNow(url);
    });
}

REXAudioPointer REXDecoder::prepareNow(const QUrl &url) const
{
    TAMPOD_ASSERT_ON(executor_);
    CurrentCancellation::throwIfCancelled();
    const QString path = url.toLocalFile();
    const Stamp first = Stamp::of(path);
    if (first.size < 1 || first.size > maximumSourceBytes)
        throw REXError::limits();

    // Declared in the reverse of the order they are let go: the job folder first, then the
    // preview and the handle, the bytes, the library, and last the source.
    FileHandle source = FileHandle::openOutside(path, LinkPolicy::NoFollow);
    std::optional<REXLibrary> library;
    QByteArray bytes = source.readUpTo(maximumSourceBytes + 1);
    if (bytes.isEmpty() || bytes.size() != first.size)
        throw REXError::changed();
    const auto size = std::int32_t(bytes.size());

    library.emplace(libraryPath_);
    const auto infoFromBuffer = library->entry<REXEntry::GetInfoFromBuffer>("REXGetInfoFromBuffer");
    const REXInfo info = readInfo([&](std::int32_t *words) {
        return infoFromBuffer(size, bytes.constData(), REXLibrary::infoBytes, words);
    });

    LoopHandle loop;
    const auto create = library->entry<REXEntry::Create>("REXCreate");
    loop.remove = library->entry<REXEntry::Delete>("REXDelete");
    REXLibrary::check(create(&loop.handle, bytes.constData(), size, &progress, nullptr));
    if (!loop.handle)
        throw REXError::verification();
    const auto infoFromHandle = library->entry<REXEntry::GetInfo>("REXGetInfo");
    if (readInfo([&](std::int32_t *words) { return infoFromHandle(loop.handle, REXLibrary::infoBytes, words); })
        != info)
        throw REXError::verification();

    // Its own rate and original tempo: the copy is neither resampled nor stretched.
    const auto setTempo = library->entry<REXEntry::SetPreviewTempo>("REXSetPreviewTempo");
    const auto setRate = library->entry<REXEntry::SetOutputSampleRate>("REXSetOutputSampleRate");
    REXLibrary::check(setRate(loop.handle, info.sampleRate));
    REXLibrary::check(setTempo(loop.handle, info.originalTempo));

    const auto start = library->entry<REXEntry::StartPreview>("REXStartPreview");
    loop.stop = library->entry<REXEntry::StopPreview>("REXStopPreview");
    const auto render = library->entry<REXEntry::RenderPreviewBatch>("REXRenderPreviewBatch");
    CurrentCancellation::throwIfCancelled();
    REXLibrary::check(start(loop.handle));
    loop.started = true;

    JobFolder folder(store_().makeDirectory());
    const QString copy = folder.file(copyName);
    renderCopy(loop.handle, info, copy, render);
    if (Stamp::of(path) != first)
        throw REXError::changed();
    verifyCopy(copy, info);
    CurrentCancellation::throwIfCancelled();

    auto audio = std::make_shared<const REXAudio>(QUrl::fromLocalFile(copy), info);
    folder.keep();
    return audio;
}

} // namespace tampod
