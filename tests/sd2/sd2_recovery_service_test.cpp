#include "concurrency/main_thread.h"
#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_recovery_error.h"
#include "sd2/sd2_recovery_failure.h"
#include "sd2/sd2_recovery_service.h"

#include "resource_fork_builder.h"
#include "support/fake_fork_backend.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

using namespace tampod;
using namespace tampod::test;

namespace {

QByteArray sha256(const QString &path)
{
    return QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha256);
}

std::exception_ptr caught(const std::function<void()> &run)
{
    try {
        run();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

SD2Metadata shape(int sampleBytes, int channels, int rate = 0)
{
    return {sampleBytes, rate, channels, std::nullopt, std::nullopt};
}

class SD2Recovery_ : public ::testing::Test {
protected:
    QString source(const QByteArray &bytes, const QString &name = QStringLiteral("Take.sd2"))
    {
        writeFile(dir.file(name), bytes);
        return dir.file(name);
    }
    static AudioTrack track(const QString &path, std::optional<SD2Metadata> requested = {},
                            SD2RecoveredCopyPointer copy = nullptr)
    {
        AudioTrack result;
        result._url = TrackedFileURL(QUrl::fromLocalFile(path));
        result.recovery = SD2Recovery{std::move(copy), requested};
        return result;
    }
    QStringList jobs() const
    {
        return QDir(store.session().toLocalFile() + "/jobs").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
    // Changes the copy being made in place (offset -1: appends).
    void patchCopy(qint64 offset, const QByteArray &bytes) const
    {
        QFile copy(store.session().toLocalFile() + "/jobs/" + jobs().value(0) + "/Recovered.wav");
        ASSERT_TRUE(copy.open(offset < 0 ? QIODevice::Append : QIODevice::ReadWrite));
        ASSERT_TRUE((offset < 0 || copy.seek(offset)) && copy.write(bytes) == bytes.size());
    }
    // Runs a recovery off the event loop; the hook sees each progress report on the worker.
    std::exception_ptr failure(const AudioTrack &subject, int rate, const SD2RecoveryProgress &hook = {},
                               const CancellationToken &token = {})
    {
        return caught([&] { service.recover(subject, rate, hook, token).wait(); });
    }

    TempDir dir;
    TemporaryAudioStore store{QUrl::fromLocalFile(dir.file(QStringLiteral("store")))};
    std::shared_ptr<FakeForkBackend> forks = std::make_shared<FakeForkBackend>();
    SD2RecoveryService service{[this]() -> TemporaryAudioStore & { return store; }, ForkStore(forks)};
};

} // namespace

TEST_F(SD2Recovery_, DataForksOfEveryDepthComeBackAsTheSamplesTheyWereMadeFrom)
{
    for (const auto &[bits, channels] : {std::pair{16, 2}, {24, 2}, {8, 1}, {32, 1}}) {
        SCOPED_TRACE(bits);
        const QString in = dir.file("in.wav"), take = dir.file("Take.sd2");
        runChecked("sox", {"-n", "-r", "44100", "-c", QString::number(channels), "-b", QString::number(bits), in,
                           "synth", "2", "sine", "440", "sine", "660"});
        runChecked("sox", {in, "-t", "raw", "-e", "signed", "-b", QString::number(bits), "-B", take});
        const QByteArray before = sha256(take);
        std::vector<double> reports;
        QObject receiver;
        auto report = mainThreadProgress(&receiver, [&](double f) { reports.push_back(isMainThread() ? f : -1); });
        const auto copy = runTask([&]() -> QCoro::Task<SD2RecoveredCopyPointer> {
            co_return co_await service.recover(track(take, shape(bits / 8, channels)), 44100, report, {});
        }());
        runChecked("sndfile-cmp", {in, copy->url().toLocalFile()});
        const QByteArray stored = readAll(copy->url().toLocalFile());
        EXPECT_EQ(stored.size(), QFileInfo(take).size() + 44);
        EXPECT_EQ(copy->pcmDigest(), QString("%1:%2:").arg(bits / 8).arg(channels) +
                                         QCryptographicHash::hash(stored.mid(44), QCryptographicHash::Sha256).toHex());
        EXPECT_EQ(copy->frames(), QFileInfo(take).size() / (bits / 8 * channels));
        // The reports are queued for the main thread and may still be on their way when the
        // copy is handed over; the last one is 1.
        ASSERT_TRUE(pumpUntil([&] { return !reports.empty() && reports.back() == 1.0; }));
        EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()) && reports.front() >= 0);
        EXPECT_LE(reports.size(), 102u);
        EXPECT_EQ(sha256(take), before);
    }
}

TEST_F(SD2Recovery_, ThreeEightBitBytesMakeAPaddedFileAndLaterRunsKeepTheShape)
{
    const auto copy = service.recover(track(source(QByteArray("\x00\x7f\x80", 3)), shape(1, 1)), 8000, {}, {}).wait();
    EXPECT_EQ(readAll(copy->url().toLocalFile()),
              QByteArray("RIFF\x28\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x40\x1f\0\0\x01\0\x08\0"
                         "data\x03\0\0\0\x80\xff\x00\x00",
                         48));
    // Without a request the copy in use gives the shape, and without either 16-bit stereo.
    const auto again = service.recover(track(source(QByteArray(12, 1)), {}, copy), 22050, {}, {}).wait();
    EXPECT_EQ(std::tuple(again->sampleBytes(), again->channels(), again->sampleRate()), std::tuple(1, 1, 22050));
    const auto fresh = service.recover(track(source(QByteArray(12, 1))), 48000, {}, {}).wait();
    EXPECT_EQ(std::tuple(fresh->sampleBytes(), fresh->channels(), fresh->frames()), std::tuple(2, 2, qint64(3)));
}

TEST_F(SD2Recovery_, EligibilityStopsAtTheSizeTheHeaderCanDescribe)
{
    const QString link = dir.file("Link.sd2"), large = source({}, "Large.sd2"), tooLarge = source({}, "Over.sd2");
    ASSERT_TRUE(QFile::link(source("abcd"), link) && QDir(dir.path()).mkdir("Folder.sd2"));
    ASSERT_TRUE(QFile::resize(large, SD2RecoveryService::maximumDataBytes));
    ASSERT_TRUE(QFile::resize(tooLarge, SD2RecoveryService::maximumDataBytes + 1));
    const std::vector<std::pair<QString, bool>> cases{
        {dir.file("Take.sd2"), true}, {source("abcd", "Take.wav"), false}, {source({}, "Empty.sd2"), false},
        {link, false}, {dir.file("Folder.sd2"), false}, {large, true}, {tooLarge, false}};
    for (const auto &[path, expected] : cases)
        EXPECT_EQ(SD2RecoveryService::eligible(QUrl::fromLocalFile(path), ForkStore(forks)), expected)
            << qPrintable(path);

    // The largest length is copied (here cancelled after its first chunk); one byte more is not.
    CancellationSource cancel;
    const auto stop = [&](double) { cancel.cancel(); };
    EXPECT_TRUE(isCancellation(failure(track(large, shape(1, 1)), 8000, stop, cancel.token())));
    const auto over = caught([&] { service.prepare(track(tooLarge), shape(1, 1, 8000), {}, {}).wait(); });
    EXPECT_TRUE(errorIs<SD2RecoveryError>(over));
    EXPECT_TRUE(jobs().isEmpty());
}

TEST_F(SD2Recovery_, CancellingAtAnyReportLeavesNothing)
{
    const QString take = source(QByteArray(4 * SD2RecoveryService::chunkBytes, 'x'));
    int total = 0;
    ASSERT_FALSE(failure(track(take), 44100, [&](double) { ++total; }));
    EXPECT_EQ(total, 9); // four chunks copied, four read back, done
    for (int at = 1; at <= total; ++at) {
        CancellationSource cancel;
        int seen = 0;
        const auto hook = [&](double) { if (++seen == at) cancel.cancel(); };
        EXPECT_TRUE(isCancellation(failure(track(take), 44100, hook, cancel.token()))) << at;
    }
    EXPECT_TRUE(jobs().isEmpty());
}

// Each failure comes from a real run and explains itself; nothing is left behind, and a source
// the test did not touch is unchanged.
TEST_F(SD2Recovery_, FailuresExplainTheirRealCause)
{
    const std::pair<QString, QString> unsuitable{
        "tamPOD can’t prepare this file with these recovery settings. Try reopening the original file or choosing "
        "another format in File > Advanced SD2 Recovery….",
        "The file did not meet the missing-metadata recovery requirements: an eligible regular file with no usable "
        "resource parameters, nonempty audio and a supported size."};
    const std::pair<QString, QString> changed{
        "tamPOD couldn’t finish reading this file. Reopen the original file and try again.",
        "The source changed, became ineligible for missing-metadata recovery, or could not be read completely during "
        "preparation."};
    const std::pair<QString, QString> verification{
        "tamPOD couldn’t create a reliable listening copy. Try different recovery settings or another copy of the "
        "original file.",
        "The prepared WAV did not pass saved-PCM readback, file-length, format, sample-rate, channel-count or "
        "frame-count verification. It was not accepted for playback. These checks verify the listening copy, not the "
        "original recording parameters."};
    const QByteArray chunks(2 * SD2RecoveryService::chunkBytes, 'x');
    const timespec longAgo[2] = {{1000000, 0}, {1000000, 0}};
    const auto fork = buildFork(parameters("2", "44100", "2"));
    struct Case {
        const char *name;
        QByteArray bytes;
        double at; // the hook acts once, at the first report at or past this
        std::function<void(const QString &take)> act;
        std::pair<QString, QString> texts; // the message's lead, the technical detail
        bool sourceKept = true;
        int rate = 44100;
    };
    const std::vector<Case> cases{
        {"incomplete frame", "abc", 0, {}, {"This file can’t be played using the selected 16-bit setting",
          "The audio data contains 3 bytes. Each frame at this setting requires 2 bytes. Dividing the data into "
          "frames leaves 1 extra byte, so the last frame is incomplete."}},
        {"empty", {}, 0, {}, unsuitable},
        {"grows", chunks, 0, [&](auto take) { QFile::resize(take, chunks.size() + 2); }, changed, false},
        {"shrinks", chunks, 0, [&](auto take) { QFile::resize(take, chunks.size() / 2 + 6); }, changed, false},
        {"touched", chunks, 0, [&](auto take) { ::utimensat(AT_FDCWD, QFile::encodeName(take), longAgo, 0); },
         changed, false},
        {"removed", chunks, 0, [](auto take) { QFile::remove(take); }, changed, false},
        {"gains a fork", "abcd", 0, [&](auto) { forks->put(ForkStore::Source::netatalkAttribute, fork); }, changed},
        {"copy's PCM altered", chunks, 0.8, [this](auto) { patchCopy(100, "y"); }, verification},
        {"copy grew", "abcd", 0.8, [this](auto) { patchCopy(-1, "y"); }, verification},
        {"copy's rate altered", "abcd", 0.81, [this](auto) { patchCopy(24, "\x80\xbb"); }, verification},
        {"rate out of range", "abcd", 0, {}, {"tamPOD couldn’t create a listening copy.", "Preparation failed "
          "(tampod.sd2.metadata, code 2). No unverified copy was accepted."}, true, 7999},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString take = source(c.bytes);
        const QByteArray before = sha256(take);
        bool acted = !c.act;
        const auto hook = [&](double f) { if (!acted && f >= c.at) { acted = true; c.act(take); } };
        const SD2RecoveryFailure explained(failure(track(take, shape(2, 1)), c.rate, hook), shape(2, 1), {});
        forks->places.clear();
        EXPECT_TRUE(acted);
        EXPECT_TRUE(explained.message.startsWith(c.texts.first)) << explained.message.toStdString();
        EXPECT_TRUE(explained.technicalExplanation.contains(".\n\n" + c.texts.second))
            << explained.technicalExplanation.toStdString();
        EXPECT_TRUE(jobs().isEmpty());
        EXPECT_TRUE(!c.sourceKept || sha256(take) == before);
    }

    // Out-of-range parameters, a track not waiting for recovery and a missing source fail too.
    AudioTrack plain = track(source("abcd"));
    for (const SD2Metadata &bad : {shape(2, 2, 192001), shape(5, 1, 8000), shape(1, 3, 8000)})
        EXPECT_TRUE(errorIs<SD2MetadataError>(caught([&] { service.prepare(plain, bad, {}, {}).wait(); })));
    plain.recovery.reset();
    EXPECT_TRUE(errorIs<SD2RecoveryError>(failure(plain, 44100)));
    QFile::remove(dir.file("Take.sd2"));
    const SD2RecoveryFailure missing(failure(track(dir.file("Take.sd2")), 44100), shape(2, 2), std::nullopt);
    EXPECT_TRUE(missing.message.startsWith("Take.sd2 is no longer available.")) << missing.message.toStdString();
    EXPECT_TRUE(missing.technicalExplanation.contains("The original source could not be reopened."));
    EXPECT_TRUE(jobs().isEmpty());
}
