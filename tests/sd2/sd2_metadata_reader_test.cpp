#include "platform/forks/fork_store_error.h"
#include "sd2/internal/apple_double.h"
#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_metadata_reader.h"
#include "sd2/sd2_tempo_metadata.h"

#include "resource_fork_builder.h"
#include "support/fake_fork_backend.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <sys/stat.h>

#include <functional>

using namespace tampod;
using namespace tampod::test;
using Case = SD2MetadataError::Case;
using Source = ForkStore::Source;

namespace {

QByteArray forkWith(const char *sampleBytes, const char *rate, const char *channels,
                    const char *bpm = nullptr)
{
    auto resources = parameters(sampleBytes, rate, channels);
    if (bpm)
        resources.push_back({typeSBPM, 128, QByteArray(SD2TempoMetadata::prefix) + bpm});
    return buildFork(resources);
}

std::optional<Case> unwrapFailure(const QByteArray &bytes)
{
    try {
        AppleDouble::unwrap(bytes);
    } catch (const SD2MetadataError &error) {
        return error.which();
    }
    return std::nullopt;
}

// An SD2 file in a temporary folder, read through a store whose own-fork places are fake.
class ReadFixture {
public:
    ReadFixture() { writeFile(path(), "audio"); }

    QString path() const { return dir.file("take.sd2"); }
    QString companion() const { return dir.file("._take.sd2"); }
    QString folderCompanion() const { return dir.file(".AppleDouble/take.sd2"); }

    std::optional<SD2Metadata> read() const
    {
        return SD2MetadataReader::read(QUrl::fromLocalFile(path()), ForkStore(backend));
    }

    std::optional<Case> failure() const
    {
        try {
            read();
        } catch (const SD2MetadataError &error) {
            EXPECT_EQ(error.message(), SD2MetadataError::description(error.which()));
            return error.which();
        }
        return std::nullopt;
    }

    TempDir dir;
    std::shared_ptr<FakeForkBackend> backend = std::make_shared<FakeForkBackend>();
};

} // namespace

TEST(AppleDouble, UnwrapValidatesTheWholeHeader)
{
    const QByteArray fork = forkWith("2", "44100", "2");
    const QByteArray finderInfo(32, 'F');
    EXPECT_EQ(AppleDouble::unwrap(appleDouble({{9, finderInfo}, {2, fork}})), fork);
    EXPECT_EQ(AppleDouble::unwrap(appleDouble({{2, fork}}, 0x00010000)), fork);
    EXPECT_EQ(AppleDouble::unwrap(appleDouble({{9, finderInfo}})), QByteArray());
    // Without the magic the bytes are a raw fork.
    EXPECT_EQ(AppleDouble::unwrap(fork), fork);
    EXPECT_EQ(unwrapFailure(QByteArray("\x00\x05\x16", 3)), Case::invalid);
    EXPECT_EQ(unwrapFailure(QByteArray()), Case::invalid);

    const QByteArray good = appleDouble({{9, finderInfo}, {2, fork}});
    const auto damaged = [&](auto change) {
        QByteArray bytes = good;
        change(bytes);
        return unwrapFailure(bytes);
    };
    EXPECT_EQ(damaged([](QByteArray &b) { put32(b, 4, 0x00030000); }), Case::invalid);
    EXPECT_EQ(damaged([](QByteArray &b) { put16(b, 24, 0); }), Case::invalid);
    EXPECT_EQ(damaged([](QByteArray &b) { put16(b, 24, 129); }), Case::invalid);
    EXPECT_EQ(damaged([](QByteArray &b) { put16(b, 24, 100); }), Case::invalid);
    EXPECT_EQ(damaged([](QByteArray &b) { put32(b, 26, 2); }), Case::invalid);        // same id
    EXPECT_EQ(damaged([](QByteArray &b) { put32(b, 30, 40); }), Case::invalid);       // in header
    EXPECT_EQ(damaged([](QByteArray &b) { put32(b, 34, 33); }), Case::invalid);       // overlap
    EXPECT_EQ(damaged([&](QByteArray &b) { put32(b, 46, fork.size() + 1); }), Case::invalid);
    EXPECT_EQ(damaged([](QByteArray &b) { put32(b, 46, 0xFFFFFFFF); }), Case::invalid);
    // An entry checked after the fork entry still counts, and an empty range overlaps nothing.
    const QByteArray later = appleDouble({{2, fork}, {9, finderInfo}, {3, {}}});
    EXPECT_EQ(AppleDouble::unwrap(later), fork);
    QByteArray badLater = later;
    put32(badLater, 26 + 24, 2);
    EXPECT_EQ(unwrapFailure(badLater), Case::invalid);
}

TEST(SD2MetadataReader, FindsTheForkInEveryPlace)
{
    const SD2Metadata expected{2, 44100, 2, 98.76, std::nullopt};
    const QByteArray tagged = forkWith("2", "44100", "2", "98.76");
    {
        ReadFixture file;
        EXPECT_EQ(file.read(), std::nullopt);
        EXPECT_EQ(SD2MetadataReader::read(QUrl::fromLocalFile(file.dir.file("missing.sd2")),
                                          ForkStore(file.backend)),
                  std::nullopt);
        file.backend->put(Source::netatalkAttribute, tagged);
        EXPECT_EQ(file.read(), expected);
    }
    {
        ReadFixture file;
        writeFile(file.companion(), tagged);
        EXPECT_EQ(file.read(), expected);
    }
    {
        ReadFixture file;
        ASSERT_TRUE(QDir(file.dir.path()).mkpath(".AppleDouble"));
        writeFile(file.folderCompanion(), appleDouble({{9, QByteArray(32, 0)}, {2, tagged}}));
        EXPECT_EQ(file.read(), expected);
        // An AppleDouble file without a fork entry contributes nothing.
        writeFile(file.companion(), appleDouble({{9, QByteArray(32, 0)}}));
        EXPECT_EQ(file.read(), expected);
        // Every place agreeing is fine.
        file.backend->put(Source::appleAttribute, tagged);
        EXPECT_EQ(file.read(), expected);
    }
    {
        // A real extended attribute, as the store writes it.
        ReadFixture file;
        try {
            ForkStore().write(file.path(), forkWith("3", "48000", "1"));
            EXPECT_EQ(SD2MetadataReader::read(QUrl::fromLocalFile(file.path())),
                      (SD2Metadata{3, 48000, 1, std::nullopt, std::nullopt}));
        } catch (const ForkStoreError &error) {
            EXPECT_EQ(error.kind(), ForkStoreError::Kind::noAttributes) << error.what();
        }
    }
}

TEST(SD2MetadataReader, ConflictingUnsafeOrDamagedPlaces)
{
    QByteArray big = forkWith("2", "44100", "2");
    big.append(QByteArray(SD2MetadataReader::inspectionLimit + 1 - big.size(), '\0'));
    struct Setup {
        const char *what;
        std::function<void(ReadFixture &)> prepare;
        std::optional<Case> outcome;
    };
    const Setup setups[] = {
        {"equal parameters, tempos in force differing", [](ReadFixture &f) {
             f.backend->put(Source::netatalkAttribute, forkWith("2", "44100", "2", "98.76"));
             writeFile(f.companion(), forkWith("2", "44100", "2", "98.77"));
         }, Case::conflicting},
        {"companions differing", [](ReadFixture &f) {
             writeFile(f.companion(), forkWith("2", "44100", "2"));
             ASSERT_TRUE(QDir(f.dir.path()).mkpath(".AppleDouble"));
             writeFile(f.folderCompanion(), forkWith("2", "44100", "1"));
         }, Case::conflicting},
        {"own-fork places differing", [](ReadFixture &f) {
             f.backend->put(Source::pseudoFile, forkWith("2", "44100", "2"));
             f.backend->put(Source::appleAttribute, forkWith("2", "48000", "2"));
         }, Case::conflicting},
        {"empty companion", [](ReadFixture &f) { writeFile(f.companion(), ""); }, Case::invalid},
        {"linked companion", [](ReadFixture &f) {
             writeFile(f.dir.file("real"), forkWith("2", "44100", "2"));
             ASSERT_TRUE(QFile::link(f.dir.file("real"), f.companion()));
         }, Case::access},
        // A FIFO would block a plain open; a folder is no file.
        {"FIFO companion", [](ReadFixture &f) {
             ASSERT_EQ(::mkfifo(f.companion().toLocal8Bit().constData(), 0600), 0);
         }, Case::access},
        {"folder companion", [](ReadFixture &f) { ASSERT_TRUE(QDir(f.dir.path()).mkpath("._take.sd2")); },
         Case::access},
        // Refused even though its target is fine.
        {"linked .AppleDouble folder", [](ReadFixture &f) {
             ASSERT_TRUE(QDir(f.dir.path()).mkpath("elsewhere"));
             writeFile(f.dir.file("elsewhere/take.sd2"), forkWith("2", "44100", "2"));
             ASSERT_TRUE(QFile::link(f.dir.file("elsewhere"), f.dir.file(".AppleDouble")));
         }, Case::access},
        {"oversized companion", [&](ReadFixture &f) { writeFile(f.companion(), big); }, Case::tooLarge},
        {"oversized attribute", [&](ReadFixture &f) { f.backend->put(Source::netatalkAttribute, big); },
         Case::tooLarge},
        // The own fork failing for another reason than absence is passed on as it is.
        {"own fork not a folder", [](ReadFixture &f) {
             f.backend->fail(Source::pseudoFile, ENOTDIR);
             f.backend->put(Source::netatalkAttribute, forkWith("2", "44100", "9"));
         }, Case::unsupported},
    };
    for (const Setup &setup : setups) {
        ReadFixture file;
        setup.prepare(file);
        EXPECT_EQ(file.failure(), setup.outcome) << setup.what;
    }

    ReadFixture file;
    // A plain file named .AppleDouble holds no companion.
    writeFile(file.dir.file(".AppleDouble"), "x");
    EXPECT_EQ(file.read(), std::nullopt);
    file.backend->fail(Source::pseudoFile, EIO);
    EXPECT_THROW(file.read(), SystemError);
}

TEST(SD2MetadataReader, ReadsFilesWrittenByLibsndfile)
{
    const QString convert = QStandardPaths::findExecutable("sndfile-convert");
    const QString sox = QStandardPaths::findExecutable("sox");
    if (convert.isEmpty() || sox.isEmpty())
        GTEST_SKIP() << "sndfile-convert and sox are needed";
    struct Format {
        int bits;
        int rate;
        int channels;
    };
    for (const Format format : {Format{16, 44100, 2}, Format{24, 48000, 1}, Format{8, 22050, 1},
                                Format{32, 96000, 2}}) {
        TempDir dir;
        const QString wav = dir.file("source.wav");
        const QString sd2 = dir.file("Take.sd2");
        ASSERT_EQ(QProcess::execute(sox, {"-n", "-r", QString::number(format.rate), "-c",
                                          QString::number(format.channels), "-b", "16", wav,
                                          "synth", "0.05", "sine", "440"}),
                  0);
        const QString subtype = format.bits == 8 ? QStringLiteral("-pcms8")
                                                 : QStringLiteral("-pcm%1").arg(format.bits);
        ASSERT_EQ(QProcess::execute(convert, {subtype, wav, sd2}), 0);
        ASSERT_TRUE(QFileInfo::exists(dir.file("._Take.sd2")));
        const auto metadata = SD2MetadataReader::read(QUrl::fromLocalFile(sd2));
        ASSERT_TRUE(metadata) << format.bits;
        EXPECT_EQ(*metadata, (SD2Metadata{format.bits / 8, format.rate, format.channels,
                                          std::nullopt, std::nullopt}));
        EXPECT_EQ(QFileInfo(sd2).size() % (format.bits / 8 * format.channels), 0);
    }
}
