#include "platform_fixtures.h"
#include "support/test_support.h"

#include "core/error.h"
#include "core/file_handle.h"
#include "platform/audio_file_error.h"
#include "platform/decode/internal/flac/flac_length.h"
#include "platform/decode/internal/length_cache.h"
#include "platform/decode/internal/mpeg/raw_stream_end.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <functional>

using namespace tampod;

namespace {

// A stream whose count is a number given, with a hook run in the middle of the pass.
class CountedStream final : public DecodedStream {
public:
    explicit CountedStream(int64_t frames, std::function<void()> duringCount = {})
        : frames_(frames), duringCount_(std::move(duringCount))
    {
    }
    const AudioFileFormat &format() const override { return format_; }
    std::optional<int64_t> knownLength() const override { return length_; }
    int64_t countLength() override
    {
        ++passes;
        if (duringCount_)
            duringCount_();
        return *(length_ = frames_);
    }
    std::shared_ptr<const CountedLength> counted() const override
    {
        return std::make_shared<const CountedLength>(CountedLength{*length_, nullptr, 0});
    }
    bool adoptCount(const CountedLength &count) override
    {
        length_ = count.frames;
        return true;
    }
    int64_t position() const override { return 0; }
    void seek(int64_t) override {}
    int64_t read(const SampleSink &, int64_t) override { return 0; }
    void setCancellationToken(CancellationToken) override {}

    int passes = 0;

private:
    AudioFileFormat format_;
    const int64_t frames_;
    std::function<void()> duringCount_;
    std::optional<int64_t> length_;
};

constexpr int64_t second = 1'000'000'000;

int64_t clockNow()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return int64_t(now.tv_sec) * second + now.tv_nsec;
}

// A cache whose clock runs a minute ahead: the files a test has just written are then as far
// past their file system's step as those a user opens.
class SettledCache : public LengthCache {
public:
    SettledCache() : LengthCache(maximumFiles, maximumBytes, {{}, [] { return clockNow() + 60 * second; }}) {}
};

LengthCache::Identity identity(int n)
{
    LengthCache::Identity id;
    id.inode = ino_t(n);
    return id;
}

void appendTo(const QString &path, const QByteArray &bytes)
{
    FileHandle::open(path, O_WRONLY | O_APPEND).writeAll(bytes);
}

void setModified(const QString &path, time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

// Two MP3 files end to end, each with its own Info header: only a decode tells the length.
QString joinedMp3(test::TempDir &dir, const QString &name, qint64 frames)
{
    const QString first = dir.file(name + ".1.mp3"), second = dir.file(name + ".2.mp3");
    test::makeTone(first, frames, {"-c:a", "libmp3lame"});
    test::makeTone(second, frames, {"-c:a", "libmp3lame", "-af", "volume=0.5"});
    test::writeFile(dir.file(name), test::readAll(first) + test::id3v1Tag() + test::readAll(second));
    return dir.file(name);
}

// A 10-s MP3 whose Info header's CRC no longer holds: only a walk of its frames proves its length.
void writeMp3OnlyAWalkProves(const QString &path)
{
    test::makeTone(path, 441000, {"-c:a", "libmp3lame", "-id3v2_version", "0"});
    QByteArray info = test::readAll(path);
    info[info.indexOf("Info") + 154] ^= 1;
    test::writeFile(path, info);
}

struct Counted {
    int64_t length = 0;
    qint64 bytes = 0; // read to learn it
};

Counted lengthOf(const QString &path)
{
    AudioFileReader reader(path);
    const qint64 before = test::bytesReadSoFar();
    const int64_t length = reader.length();
    return {length, test::bytesReadSoFar() - before};
}

// A cache that sees every file as last changed at changed, with no generation, on a clock at
// now (or, with behind, the system's that far behind); and what its walks of an MP3 found.
struct CacheAtFakeTimes {
    CacheAtFakeTimes(timespec changedAt, int64_t clock) : changed(changedAt), now(clock) {}
    std::pair<int, std::optional<int64_t>> count(const FileHandle &file, int64_t frames)
    {
        CountedStream stream(frames);
        cache.count(file, cache.identityOf(file), stream, {});
        return std::pair(stream.passes, stream.knownLength());
    }
    static std::tuple<int64_t, int64_t, int64_t> found(const rawstream::End &end)
    {
        return std::tuple(end.end, end.walk ? end.walk->samples : -1, end.trimmed ? end.trimmed->length : -1);
    }

    timespec changed;
    int64_t now;
    std::optional<int64_t> behind;
    LengthCache cache{LengthCache::maximumFiles, LengthCache::maximumBytes,
                      {[this](const FileHandle &file) {
                           LengthCache::Status status = LengthCache::statusOf(file);
                           status.fields.st_mtim = status.fields.st_ctim = changed;
                           status.generation = 0;
                           return status;
                       },
                       [this] {
                           if (!behind)
                               return now;
                           timespec clock{};
                           ::clock_gettime(CLOCK_REALTIME, &clock);
                           return clock.tv_sec * second + clock.tv_nsec - *behind;
                       }}};
};

} // namespace

// A count is taken for the same file only: a file whose size, times or inode moved, a pass that
// was cancelled, failed or saw the file change, leave the next stream to count again.
TEST(LengthCache, KeepsOnlyCountsOfTheFileAsItStillIs)
{
    test::TempDir dir;
    const QString path = dir.file("audio");
    test::writeFile(path, QByteArray(1000, 'a'));
    const FileHandle file = FileHandle::openOutside(path);
    SettledCache cache;
    const auto countsAgain = [&](int64_t frames) {
        CountedStream stream(frames);
        const bool decoded = cache.count(file, cache.identityOf(file), stream, {});
        return decoded && stream.passes == 1 && stream.knownLength() == frames;
    };
    const auto count = [&](CountedStream &stream, const CancellationToken &token = {}) {
        return cache.count(file, cache.identityOf(file), stream, token);
    };
    EXPECT_TRUE(countsAgain(500));
    CountedStream second(1);
    EXPECT_FALSE(count(second));
    EXPECT_EQ(std::tuple(second.passes, second.knownLength()), std::tuple(0, std::optional<int64_t>(500)));

    appendTo(path, "b");
    EXPECT_TRUE(countsAgain(501));
    setModified(path, 1'000'000);
    EXPECT_TRUE(countsAgain(502));
    EXPECT_FALSE(countsAgain(502));

    const size_t kept = cache.files();
    CancellationSource cancel;
    setModified(path, 2'000'000);
    CountedStream cancelled(503, [&] { cancel.cancel(); });
    EXPECT_TRUE(count(cancelled, cancel.token()));
    CountedStream failing(503, [] { throw AudioFileError(AudioFileError::Kind::io, -5, QStringLiteral("Decoding")); });
    EXPECT_THROW(count(failing), AudioFileError);
    CountedStream changedMeanwhile(503, [&] { appendTo(path, "c"); });
    EXPECT_TRUE(count(changedMeanwhile));
    EXPECT_EQ(cache.files(), kept);
    // Opened before a change, a stream neither takes the count of the file as it is now nor
    // leaves its own; a stream that shares nothing (raw PCM) always counts.
    const auto beforeChange = cache.identityOf(file);
    setModified(path, 3'000'000);
    EXPECT_TRUE(countsAgain(505));
    CountedStream openedBefore(505);
    EXPECT_TRUE(cache.count(file, beforeChange, openedBefore, {}));
    CountedStream raw(505);
    EXPECT_TRUE(cache.count(file, std::nullopt, raw, {}));
    EXPECT_EQ(cache.files(), kept + 1);
    EXPECT_FALSE(countsAgain(505));
}

// The identity goes to the nanosecond of both times: a file touched within the same second, or
// whose inode alone changed (its mode, a rename over it keeps the times), is another file.
TEST(LengthCache, TellsFilesApartByTheirChangeTimeAndNanoseconds)
{
    test::TempDir dir;
    const QString path = dir.file("audio");
    test::writeFile(path, QByteArray(1000, 'a'));
    const QByteArray name = QFile::encodeName(path);
    const timespec times[2] = {{1'000'000, 250'000'000}, {1'000'000, 250'000'000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, name.constData(), times, 0), 0);
    const FileHandle file = FileHandle::openOutside(path);
    const auto nanoseconds = [](const timespec &t) { return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec; };
    struct stat status{};
    ASSERT_EQ(::fstat(file.fd(), &status), 0);
    SettledCache cache;
    const auto before = cache.identityOf(file);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->modified, int64_t(1'000'000) * 1'000'000'000 + 250'000'000);
    EXPECT_EQ(before->changed, nanoseconds(status.st_ctim));

    const auto counts = [&] {
        CountedStream stream(500);
        return cache.count(file, cache.identityOf(file), stream, {});
    };
    EXPECT_TRUE(counts());
    EXPECT_FALSE(counts());
    // The same second, another nanosecond.
    const timespec later[2] = {{1'000'000, 750'000'000}, {1'000'000, 750'000'000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, name.constData(), later, 0), 0);
    EXPECT_TRUE(counts());
    // The change time alone: the mode changed until the system's clock gives it a new time.
    const auto unchanged = cache.identityOf(file);
    ASSERT_EQ(::fstat(file.fd(), &status), 0);
    const int64_t changedBefore = nanoseconds(status.st_ctim);
    for (mode_t mode = 0600; nanoseconds(status.st_ctim) == changedBefore; mode ^= 0040) {
        ASSERT_EQ(::fchmod(file.fd(), mode), 0);
        ASSERT_EQ(::fstat(file.fd(), &status), 0);
    }
    EXPECT_EQ(cache.identityOf(file)->modified, unchanged->modified);
    EXPECT_TRUE(counts());
    EXPECT_FALSE(counts());
    // Identities that differ by one nanosecond of either time find nothing of each other.
    LengthCache::Identity id = *unchanged;
    cache.keep(id, std::make_shared<const CountedLength>(CountedLength{7, nullptr, 0}));
    for (int64_t LengthCache::Identity::*time : {&LengthCache::Identity::modified, &LengthCache::Identity::changed}) {
        LengthCache::Identity other = id;
        other.*time += 1;
        EXPECT_EQ(cache.find(other), nullptr);
    }
    EXPECT_EQ(cache.find(id)->frames, 7);
}

// On a file system that keeps whole seconds (ext4 with small inodes, ext3, FAT), a file
// rewritten in place at the same size within a second of its last change keeps every field of
// its identity: until the step such times allow has passed no table takes or keeps anything of
// the file, then each keeps it again. Where the file system numbers no generations either (FAT,
// exFAT), a file renamed over another of the same size and times is told apart by its inode.
TEST(LengthCache, TrustsNoIdentityItsFileSystemsTimesCannotTellFromAChange)
{
    test::TempDir dir;
    const QString flac = dir.file("tone.flac"), mp3 = dir.file("tone.mp3");
    test::makeTone(flac, 441000, {});
    writeMp3OnlyAWalkProves(mp3);
    CacheAtFakeTimes fake({1'700'000'000, 0}, 1'700'000'000 * second + second / 2); // the second both files last changed in
    timespec &changed = fake.changed;
    int64_t &now = fake.now;
    LengthCache &cache = fake.cache;
    const auto count = [&](const FileHandle &file, int64_t frames) { return fake.count(file, frames); };
    const FileHandle flacFile = FileHandle::openOutside(flac), mp3File = FileHandle::openOutside(mp3);
    const qint64 flacSize = flacFile.size(), mp3Size = mp3File.size();
    const auto proof = [&] { return cache.flacProof(flacFile, 0, flacSize).total; };
    const auto found = CacheAtFakeTimes::found;
    const auto end = [&] { return found(cache.audioEnd(mp3File, "mp3", 0, mp3Size)); };

    const auto firstProof = proof();
    const auto firstEnd = end();
    EXPECT_EQ(count(flacFile, 500).first, 1);
    for (const QString &path : {flac, mp3}) { // the second half zeros, within the same second
        const QByteArray bytes = test::readAll(path);
        const qsizetype half = bytes.size() / 2;
        FileHandle::open(path, O_WRONLY).writeAll(bytes.left(half) + QByteArray(bytes.size() - half, 0));
    }
    EXPECT_EQ(proof(), flaclength::prove(flacFile, 0, flacSize).total);
    EXPECT_NE(proof(), firstProof);
    EXPECT_EQ(end(), found(rawstream::audioEnd(mp3File, "mp3", 0, mp3Size)));
    EXPECT_NE(end(), firstEnd);
    EXPECT_EQ(count(flacFile, 400), std::pair(1, std::optional<int64_t>(400)));
    EXPECT_EQ(cache.files(), 0u);

    now += 2 * second;
    EXPECT_EQ(count(flacFile, 400).first, 1);
    EXPECT_EQ(count(flacFile, 400).first, 0);
    const auto kept = proof();
    const qint64 before = test::bytesReadSoFar();
    EXPECT_EQ(proof(), kept);
    EXPECT_LT(test::bytesReadSoFar() - before, flacSize / 100);

    const QString other = dir.file("other.flac");
    test::writeFile(other, test::readAll(flac));
    ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(flac).constData()), 0);
    EXPECT_EQ(count(FileHandle::openOutside(flac), 300), std::pair(1, std::optional<int64_t>(300)));

    // Times kept to the nanosecond are stamped from a clock that moves once a tick.
    changed.tv_nsec = 123'456'789;
    now = changed.tv_sec * second + changed.tv_nsec + 100'000;
    EXPECT_FALSE(cache.identityOf(flacFile));
    now += second / 10;
    EXPECT_TRUE(cache.identityOf(flacFile));
}

// A file whose change time is ahead of the clock (the clock set back since it was written, a file
// server's running ahead) is trusted once the clock has moved a step on from when the same
// identity was first seen: its second open walks it again and keeps what it found, later ones
// take that. Nothing the first open learned is kept, as the file may have been rewritten in place
// within its second since; a file changed to another identity waits its own step.
TEST(LengthCache, TrustsAChangeTimeAheadOfTheClockAStepAfterFirstSeeingIt)
{
    test::TempDir dir;
    const QString mp3 = dir.file("tone.mp3");
    writeMp3OnlyAWalkProves(mp3);
    CacheAtFakeTimes fake({1'700'000'000, 0}, (1'700'000'000 - 3600) * second); // an hour ahead
    int64_t &now = fake.now;
    LengthCache &cache = fake.cache;
    const FileHandle file = FileHandle::openOutside(mp3);
    const qint64 size = file.size();
    const auto count = [&](int64_t frames) { return fake.count(file, frames); };
    const auto found = CacheAtFakeTimes::found;
    const auto end = [&] { return found(cache.audioEnd(file, "mp3", 0, size)); };

    const auto firstEnd = end();
    EXPECT_EQ(count(500).first, 1);
    const QByteArray bytes = test::readAll(mp3); // the second half zeros, within the same second
    FileHandle::open(mp3, O_WRONLY).writeAll(bytes.left(size / 2) + QByteArray(size - size / 2, 0));
    now += 2 * second; // the step, but not the stamp's lag
    EXPECT_FALSE(cache.identityOf(file));
    EXPECT_EQ(cache.files(), 0u);

    now += second;
    ASSERT_TRUE(cache.identityOf(file));
    const auto rewritten = found(rawstream::audioEnd(file, "mp3", 0, size));
    EXPECT_NE(rewritten, firstEnd);
    EXPECT_EQ(end(), rewritten);
    EXPECT_EQ(count(400), std::pair(1, std::optional<int64_t>(400)));
    EXPECT_EQ(count(300), std::pair(0, std::optional<int64_t>(400)));
    const qint64 before = test::bytesReadSoFar();
    EXPECT_EQ(end(), rewritten);
    EXPECT_LT(test::bytesReadSoFar() - before, size / 100);

    appendTo(mp3, "x");
    EXPECT_FALSE(cache.identityOf(file));
    now += 3 * second;
    EXPECT_TRUE(cache.identityOf(file));

    // Times kept to the nanosecond: the first look waits out the clock's tick, so the first open
    // keeps what it found.
    fake.behind = 3600 * second;
    fake.changed = {::time(nullptr) + 2, 123'456'789};
    EXPECT_TRUE(cache.identityOf(file));
    EXPECT_EQ(count(200), std::pair(1, std::optional<int64_t>(200)));
    EXPECT_EQ(count(100), std::pair(0, std::optional<int64_t>(200)));
}

// What was kept while a file's change time was ahead of the clock holds only while the clock
// stays a step behind it: once the clock reaches that second, a rewrite in place within it keeps
// every field, so nothing kept before is taken then or after, and what is learned after is kept.
TEST(LengthCache, KeepsWhatItLearnedAheadOfTheClockOnlyUntilTheClockReachesTheChangeTime)
{
    test::TempDir dir;
    const QString mp3 = dir.file("tone.mp3");
    writeMp3OnlyAWalkProves(mp3);
    constexpr int64_t changedAt = 1'700'000'000;
    CacheAtFakeTimes fake({changedAt, 0}, (changedAt - 3600) * second);
    int64_t &now = fake.now;
    LengthCache &cache = fake.cache;
    const FileHandle file = FileHandle::openOutside(mp3);
    const qint64 size = file.size();
    const auto end = [&] { return CacheAtFakeTimes::found(cache.audioEnd(file, "mp3", 0, size)); };

    end();
    now += 3 * second;
    const auto firstEnd = end();
    EXPECT_EQ(fake.count(file, 500), std::pair(1, std::optional<int64_t>(500)));
    qint64 before = test::bytesReadSoFar();
    EXPECT_EQ(end(), firstEnd);
    EXPECT_LT(test::bytesReadSoFar() - before, size / 100);
    EXPECT_EQ(fake.count(file, 400), std::pair(0, std::optional<int64_t>(500)));

    now = (changedAt - 1) * second; // within the step before the change time
    EXPECT_FALSE(cache.identityOf(file));
    const QByteArray bytes = test::readAll(mp3); // the second half zeros, within that second
    FileHandle::open(mp3, O_WRONLY).writeAll(bytes.left(size / 2) + QByteArray(size - size / 2, 0));
    now = changedAt * second + second / 2;
    EXPECT_FALSE(cache.identityOf(file));
    now = (changedAt + 3) * second;
    ASSERT_TRUE(cache.identityOf(file));
    const auto rewritten = CacheAtFakeTimes::found(rawstream::audioEnd(file, "mp3", 0, size));
    ASSERT_NE(rewritten, firstEnd);
    EXPECT_EQ(end(), rewritten);
    EXPECT_EQ(fake.count(file, 300), std::pair(1, std::optional<int64_t>(300)));
    before = test::bytesReadSoFar();
    EXPECT_EQ(end(), rewritten);
    EXPECT_LT(test::bytesReadSoFar() - before, size / 100);
    EXPECT_EQ(fake.count(file, 200), std::pair(0, std::optional<int64_t>(300)));
}

// The least recently used counts go first, past the number of files or the bytes held.
TEST(LengthCache, ForgetsTheLeastRecentlyUsedPastItsBounds)
{
    constexpr size_t record = sizeof(CountedLength);
    LengthCache cache(3, 10 * record);
    const auto count = [](int64_t frames, size_t bytes) {
        return std::make_shared<const CountedLength>(CountedLength{frames, nullptr, bytes});
    };
    for (int n = 1; n <= 3; ++n)
        cache.keep(identity(n), count(n, 0));
    ASSERT_NE(cache.find(identity(1)), nullptr);
    cache.keep(identity(4), count(4, 0));
    EXPECT_EQ(cache.find(identity(2)), nullptr);
    EXPECT_EQ(cache.find(identity(1))->frames, 1);
    cache.keep(identity(5), count(5, 7 * record)); // leaves room for two others
    EXPECT_EQ(cache.files(), 3u);
    EXPECT_EQ(cache.find(identity(3)), nullptr);
    cache.keep(identity(6), count(6, 0));
    EXPECT_EQ(cache.files(), 3u);
    EXPECT_EQ(cache.find(identity(4)), nullptr);
    cache.keep(identity(8), count(8, record)); // the bytes, not the number, push 5 out now
    EXPECT_EQ(cache.files(), 2u);
    EXPECT_EQ(cache.find(identity(5)), nullptr);
    cache.keep(identity(7), count(7, 10 * record)); // larger than the bound: not kept at all
    EXPECT_EQ(cache.find(identity(7)), nullptr);
    EXPECT_EQ(cache.files(), 2u);
    EXPECT_NE(cache.find(identity(6)), nullptr);
}

// Readers of one joined MP3 after the first read only what they would of a file whose header
// states its length; a file changed since is decoded to count it again.
TEST(LengthCache, ASecondReaderOfAnUnchangedFileDoesNotDecodeToCount)
{
    test::TempDir dir;
    const QString path = joinedMp3(dir, "joined.mp3", 441000);
    test::waitUntilSettled(path);
    const qint64 size = QFileInfo(path).size();
    const Counted first = lengthOf(path);
    EXPECT_GT(first.bytes, size * 9 / 10);
    const Counted second = lengthOf(path);
    EXPECT_EQ(second.length, first.length);
    EXPECT_LT(second.bytes, size / 20);

    setModified(path, 1'000'000);
    EXPECT_GT(lengthOf(path).bytes, size * 9 / 10);
    appendTo(path, test::readAll(dir.file("joined.mp3.2.mp3")));
    const Counted longer = lengthOf(path);
    EXPECT_GT(longer.bytes, size);
    EXPECT_EQ(longer.length * 2 * qint64(sizeof(float)), test::ffmpegDecode(path).size());
}

// An MP3 whose Info header counts its frames, where the file's end does not settle it (its
// tag's CRC no longer holds, as where another tool rewrote the header), is proved at open by a
// walk of every frame header: only the first open of the file walks it; the same file changed
// since, or grown by a second stream the header does not count, is walked afresh. Its twin with
// the header as the encoder wrote it is proved without a walk.
TEST(LengthCache, TheWalkThatProvesAnInfoHeaderIsMadeOncePerUnchangedFile)
{
    test::TempDir dir;
    const QString path = dir.file("info.mp3"), twin = dir.file("twin.mp3");
    test::makeTone(twin, 1323000, {"-c:a", "libmp3lame"});
    QByteArray rewritten = test::readAll(twin);
    rewritten[rewritten.indexOf("Info") + 154] ^= 1; // the tag's CRC
    test::writeFile(path, rewritten);
    test::waitUntilSettled(path);
    const qint64 size = QFileInfo(path).size();
    const auto lengthOf = [](const QString &file) {
        const qint64 before = test::bytesReadSoFar();
        AudioFileReader reader(file);
        return Counted{reader.length(), test::bytesReadSoFar() - before};
    };
    const Counted untouched = lengthOf(twin);
    EXPECT_EQ(untouched.length, 1323000);
    EXPECT_LT(untouched.bytes, size / 4);
    const Counted first = lengthOf(path);
    EXPECT_EQ(first.length, 1323000);
    EXPECT_GT(first.bytes, size * 9 / 10);
    const Counted second = lengthOf(path);
    EXPECT_EQ(second.length, first.length);
    EXPECT_LT(second.bytes, size / 4); // the probe's and the first frames' bytes

    setModified(path, 1'000'000);
    test::waitUntilSettled(path);
    EXPECT_GT(lengthOf(path).bytes, size * 9 / 10);
    EXPECT_LT(lengthOf(path).bytes, size / 4);
    appendTo(path, test::readAll(path));
    const Counted joined = lengthOf(path);
    EXPECT_GT(joined.bytes, size);
    EXPECT_EQ(joined.length * 2 * qint64(sizeof(float)), test::ffmpegDecode(path).size());
}

// A reader that takes another's count states, reads and seeks exactly as the one that counted.
TEST(LengthCache, ATakenCountReadsAndSeeksAsTheReaderThatCounted)
{
    test::TempDir dir;
    std::vector<std::pair<QString, QByteArray>> files;
    const QString twoParts = joinedMp3(dir, "two.mp3", 132300);
    const QByteArray joined = test::readAll(twoParts);
    files.emplace_back("two parts", joined);
    files.emplace_back("three parts, junk between", joined + QByteArray(3000, '\x5A') + test::readAll(dir.file("two.mp3.1.mp3")));
    files.emplace_back("first part cut in a frame", joined.left(joined.size() / 3) + joined.mid(joined.size() / 2));
    QByteArray damaged = joined;
    damaged[damaged.indexOf("\xFF\xFB", damaged.size() * 3 / 10) + 2] = char(0xF0); // bitrate index 15
    files.emplace_back("a damaged frame header", damaged);
    int index = 0;
    for (const auto &[name, bytes] : files) {
        SCOPED_TRACE(name.toStdString());
        const QString path = dir.file(QString::number(index++) + ".mp3");
        test::writeFile(path, bytes);
        test::waitUntilSettled(path);
        AudioFileReader counting(path);
        const int64_t length = counting.length();
        counting.seek(0);
        const std::vector<float> whole = test::readAllFloat(counting);
        ASSERT_EQ(int64_t(whole.size()), 2 * length);

        AudioFileReader taking(path);
        const qint64 before = test::bytesReadSoFar();
        ASSERT_EQ(taking.length(), length);
        EXPECT_LT(test::bytesReadSoFar() - before, qint64(bytes.size()) / 4);
        EXPECT_TRUE(test::readAllFloat(taking) == whole);
        for (const int64_t frame : {length * 9 / 10, length / 2 + 700, int64_t(40000), length - 3, length / 3}) {
            SCOPED_TRACE(frame);
            taking.seek(frame);
            std::vector<float> got(2 * 4096);
            const int64_t n = taking.readFloatInterleaved(got.data(), 4096);
            ASSERT_EQ(n, std::min<int64_t>(4096, length - frame));
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + 2 * n, whole.begin() + 2 * frame));
        }
    }
}
