#include "concurrency/main_thread.h"
#include "core/error.h"
#include "files/access/missing_audio_source.h"
#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_recovery_error.h"
#include "sd2/sd2_recovery_failure.h"
#include "sd2/sd2_recovery_service.h"

#include "resource_fork_builder.h"
#include "support/fake_fork_backend.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

using namespace tampod;
using namespace tampod::test;

namespace {

QByteArray sha256(const QString &path)
{
    return QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha256);
}

void resize(const QString &path, qint64 size)
{
    ASSERT_TRUE(QFile::resize(path, size));
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

// A modification time far in the past, whatever the clock's resolution.
void setModified(const QString &path)
{
    const struct timespec times[2] = {{1000000, 0}, {1000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

class SD2Recovery_ : public ::testing::Test {
protected:
    QString source(const QByteArray &bytes, const QString &name = QStringLiteral("Take.sd2"))
    {
        writeFile(dir.file(name), bytes);
        return dir.file(name);
    }

    static AudioTrack track(const QString &path, std::optional<SD2Metadata> requested = std::nullopt,
                            SD2RecoveredCopyPointer copy = nullptr)
    {
        AudioTrack result;
        result.id = QUuid::createUuid();
        result._url = TrackedFileURL(QUrl::fromLocalFile(path));
        result.recovery = SD2Recovery{std::move(copy), requested};
        return result;
    }

    QStringList jobs() const
    {
        return QDir(store.session().toLocalFile() + QStringLiteral("/jobs")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden);
    }
    QString copyInJob() const { return store.session().toLocalFile() + "/jobs/" + jobs().value(0) + "/Recovered.wav"; }

    // Runs a recovery to its end off the event loop; the hook sees every progress report.
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
    struct Case {
        int bits, channels;
    };
    for (const Case c : {Case{16, 2}, Case{24, 2}, Case{8, 1}, Case{32, 1}}) {
        SCOPED_TRACE(c.bits);
        const QString in = dir.file("in.wav"), take = dir.file("Take.sd2");
        runChecked("sox", {"-n", "-r", "44100", "-c", QString::number(c.channels), "-b", QString::number(c.bits), in,
                           "synth", "2", "sine", "440", "sine", "660"});
        runChecked("sox", {in, "-t", "raw", "-e", "signed", "-b", QString::number(c.bits), "-B", take});
        const QByteArray before = sha256(take);
        const qint64 bytes = QFileInfo(take).size();
        const SD2Metadata parameters{c.bits / 8, 0, c.channels, std::nullopt, std::nullopt};

        // Through the event loop, as the queue runs it: progress arrives on the main thread, in order.
        std::vector<double> reports;
        QObject receiver;
        const auto copy = runTask([&]() -> QCoro::Task<SD2RecoveredCopyPointer> {
            co_return co_await service.recover(track(take, parameters), 44100, mainThreadProgress(&receiver, [&](double f) {
                EXPECT_TRUE(isMainThread());
                reports.push_back(f);
            }), {});
        }());
        runChecked("sndfile-cmp", {in, copy->url().toLocalFile()});
        const QByteArray stored = readAll(copy->url().toLocalFile());
        EXPECT_EQ(stored.size(), bytes + 44);
        EXPECT_EQ(copy->pcmDigest(), QString("%1:%2:").arg(c.bits / 8).arg(c.channels) +
                                         QCryptographicHash::hash(stored.mid(44), QCryptographicHash::Sha256).toHex());
        EXPECT_EQ(copy->frames(), bytes / (c.bits / 8 * c.channels));
        EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
        EXPECT_LE(reports.size(), 102u);
        EXPECT_EQ(reports.back(), 1.0);
        EXPECT_EQ(sha256(take), before);
    }
}

TEST_F(SD2Recovery_, ThreeEightBitBytesMakeAPaddedFile)
{
    const auto copy = service.recover(track(source(QByteArray("\x00\x7f\x80", 3)), SD2Metadata{1, 0, 1, {}, {}}), 8000, {}, {}).wait();
    const QByteArray expected("RIFF\x28\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x40\x1f\0\0\x01\0\x08\0data\x03\0\0\0"
                              "\x80\xff\x00\x00",
                              48);
    EXPECT_EQ(readAll(copy->url().toLocalFile()), expected);
    const QString folder = QFileInfo(copy->url().toLocalFile()).path();
    EXPECT_TRUE(QFileInfo::exists(folder));
    // Later recoveries follow the copy in use, or 16-bit stereo without one.
    const auto again = service.recover(track(source(QByteArray(12, 1)), std::nullopt, copy), 22050, {}, {}).wait();
    EXPECT_EQ(std::make_tuple(again->sampleBytes(), again->channels(), again->sampleRate()), std::make_tuple(1, 1, 22050));
    const auto fresh = service.recover(track(source(QByteArray(12, 1))), 48000, {}, {}).wait();
    EXPECT_EQ(std::make_tuple(fresh->sampleBytes(), fresh->channels(), fresh->frames()), std::make_tuple(2, 2, qint64(3)));
}

TEST_F(SD2Recovery_, EligibilityStopsAtTheSizeTheHeaderCanDescribe)
{
    const QString link = dir.file("Link.sd2");
    ASSERT_TRUE(QFile::link(source("abcd"), link));
    QDir(dir.path()).mkdir("Folder.sd2");
    const QString large = source({}, "Large.sd2"), tooLarge = source({}, "TooLarge.sd2");
    resize(large, SD2RecoveryService::maximumDataBytes);
    resize(tooLarge, SD2RecoveryService::maximumDataBytes + 1);
    const std::vector<std::pair<QString, bool>> cases{
        {dir.file("Take.sd2"), true}, {source("abcd", "Take.wav"), false}, {source({}, "Empty.sd2"), false},
        {link, false}, {dir.file("Folder.sd2"), false}, {large, true}, {tooLarge, false}};
    for (const auto &[path, eligible] : cases)
        EXPECT_EQ(SD2RecoveryService::eligible(QUrl::fromLocalFile(path), ForkStore(forks)), eligible) << path.toStdString();
    forks->put(ForkStore::Source::netatalkAttribute, buildFork(parameters("2", "44100", "2")));
    EXPECT_FALSE(SD2RecoveryService::eligible(QUrl::fromLocalFile(dir.file("Take.sd2")), ForkStore(forks)));
    forks->places.clear();

    // The largest length is copied (here cancelled after its first chunk); one byte more is not.
    CancellationSource cancel;
    EXPECT_TRUE(isCancellation(failure(track(large, SD2Metadata{1, 0, 1, {}, {}}), 8000, [&](double) { cancel.cancel(); }, cancel.token())));
    EXPECT_TRUE(errorIs<SD2RecoveryError>(caught([&] { service.prepare(track(tooLarge), {1, 8000, 1, {}, {}}, {}, {}).wait(); })));
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
        EXPECT_TRUE(isCancellation(failure(track(take), 44100, [&](double) { if (++seen == at) cancel.cancel(); }, cancel.token()))) << at;
    }
    EXPECT_TRUE(jobs().isEmpty());
}

// Each failure comes from a real run and explains itself; nothing is left and the source is as it was.
TEST_F(SD2Recovery_, FailuresExplainTheirRealCause)
{
    const SD2Metadata mono16{2, 0, 1, {}, {}};
    struct Case {
        const char *name;
        QByteArray bytes;
        std::optional<SD2Metadata> requested;
        std::function<void(const QString &take, double fraction)> hook;
        std::pair<QString, QString> texts; // the lead of the message, the detail of the technical text
        bool sourceKept = true;
        int rate = 44100;
    };
    const QByteArray chunks(2 * SD2RecoveryService::chunkBytes, 'x');
    const std::pair<QString, QString> unsuitable{
        "tamPOD can’t prepare this file with these recovery settings. Try reopening the original file or choosing another format in File > Advanced SD2 Recovery….",
        "The file did not meet the missing-metadata recovery requirements: an eligible regular file with no usable resource parameters, nonempty audio and a supported size."};
    const std::pair<QString, QString> changed{
        "tamPOD couldn’t finish reading this file. Reopen the original file and try again.",
        "The source changed, became ineligible for missing-metadata recovery, or could not be read completely during preparation."};
    const std::pair<QString, QString> verification{
        "tamPOD couldn’t create a reliable listening copy. Try different recovery settings or another copy of the original file.",
        "The prepared WAV did not pass saved-PCM readback, file-length, format, sample-rate, channel-count or frame-count verification. It was not accepted for playback. These checks verify the listening copy, not the original recording parameters."};
    const std::vector<Case> cases{
        {"incomplete frame", "abc", mono16, {}, {"This file can’t be played using the selected 16-bit setting", "The audio data contains 3 bytes. Each frame at this setting requires 2 bytes. Dividing the data into frames leaves 1 extra byte, so the last frame is incomplete."}},
        {"empty", {}, {}, {}, unsuitable},
        {"grows", chunks, {}, [](const QString &take, double f) { if (f < 0.5) resize(take, 2 * SD2RecoveryService::chunkBytes + 4); }, changed, false},
        {"shrinks", chunks, {}, [](const QString &take, double f) { if (f < 0.5) resize(take, 4); }, changed, false},
        {"touched", chunks, {}, [](const QString &take, double f) { if (f < 0.5) setModified(take); }, changed, false},
        {"removed", chunks, {}, [](const QString &take, double f) { if (f < 0.5) QFile::remove(take); }, changed, false},
        {"gains a fork", "abcd", {}, [this](const QString &, double) { forks->put(ForkStore::Source::netatalkAttribute, buildFork(parameters("2", "44100", "2"))); }, changed},
        {"copy's PCM altered", chunks, {}, [this](const QString &, double f) { if (f == 0.8) { QFile copy(copyInJob()); copy.open(QIODevice::ReadWrite); copy.seek(100); copy.write("y"); } }, verification},
        {"copy grew", "abcd", {}, [this](const QString &, double f) { if (f == 0.8) { QFile copy(copyInJob()); copy.open(QIODevice::Append); copy.write("y"); } }, verification},
        {"copy's rate altered", "abcd", {}, [this](const QString &, double f) { if (f > 0.8) { QFile copy(copyInJob()); copy.open(QIODevice::ReadWrite); copy.seek(24); copy.write("\x80\xbb", 2); } }, verification},
        {"rate out of range", "abcd", {}, {}, {"tamPOD couldn’t create a listening copy.", "Preparation failed (tampod.sd2.metadata, code 2). No unverified copy was accepted."}, true, 7999},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString take = source(c.bytes);
        const QByteArray before = sha256(take);
        const auto error = failure(track(take, c.requested), c.rate, [&](double f) { if (c.hook) c.hook(take, f); });
        forks->places.clear();
        const SD2RecoveryFailure explained(error, SD2Metadata{2, c.rate, 2, {}, {}}, std::nullopt);
        EXPECT_TRUE(explained.message.startsWith(c.texts.first)) << explained.message.toStdString();
        EXPECT_TRUE(explained.technicalExplanation.contains(".\n\n" + c.texts.second)) << explained.technicalExplanation.toStdString();
        EXPECT_TRUE(jobs().isEmpty());
        if (c.sourceKept) {
            EXPECT_EQ(sha256(take), before);
        }
    }

    // Out-of-range parameters fail before any folder is made; so do a missing source and a
    // track that is not waiting for recovery.
    for (const SD2Metadata &bad : {SD2Metadata{2, 192001, 2, {}, {}}, SD2Metadata{5, 8000, 1, {}, {}}, SD2Metadata{1, 8000, 3, {}, {}}})
        EXPECT_TRUE(errorIs<SD2MetadataError>(caught([&] { service.prepare(track(source("abcd")), bad, {}, {}).wait(); })));
    AudioTrack plain = track(source("abcd"));
    plain.recovery.reset();
    EXPECT_TRUE(errorIs<SD2RecoveryError>(failure(plain, 44100)));
    QFile::remove(dir.file("Take.sd2"));
    const SD2RecoveryFailure missing(failure(track(dir.file("Take.sd2")), 44100), mono16, mono16);
    EXPECT_TRUE(missing.message.startsWith("Take.sd2 is no longer available.")) << missing.message.toStdString();
    EXPECT_TRUE(missing.technicalExplanation.contains("The original source could not be reopened."));
    EXPECT_TRUE(jobs().isEmpty());
}
