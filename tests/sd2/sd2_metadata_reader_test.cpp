#include "platform/forks/fork_store_error.h"
#include "sd2/internal/apple_double.h"
#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_metadata_reader.h"

#include "resource_fork_builder.h"
#include "support/fake_fork_backend.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <functional>
#include <sys/stat.h>

using namespace tampod;
using namespace tampod::test;
using Case = SD2MetadataError::Case;
using Source = ForkStore::Source;

namespace {

QByteArray forkWith(const char *channels, const char *bpm = nullptr)
{
    return buildFork(parameters("2", "44100", channels, bpm ? std::vector<Resource>{{typeSBPM, 128, QByteArray("tamPOD_BPM=") + bpm}}
                                                           : std::vector<Resource>{}));
}

std::optional<Case> unwrapFailure(const QByteArray &bytes) { return failureOf([&] { AppleDouble::unwrap(bytes); }); }

// An SD2 file in a temporary folder, read through a store whose own-fork places are fake.
struct ReadFixture {
    ReadFixture() { writeFile(path, "audio"); }
    std::optional<SD2Metadata> read() const { return SD2MetadataReader::read(QUrl::fromLocalFile(path), ForkStore(backend)); }
    std::optional<Case> failure() const { return failureOf([this] { read(); }); }
    void companion(const QByteArray &bytes, bool inFolder = false) const
    {
        EXPECT_TRUE(!inFolder || QDir(dir.path()).mkpath(".AppleDouble"));
        writeFile(inFolder ? dir.file(".AppleDouble/take.sd2") : dir.file("._take.sd2"), bytes);
    }
    void link(const char *target, const char *name) const { EXPECT_TRUE(QFile::link(dir.file(target), dir.file(name))); }

    TempDir dir;
    QString path = dir.file("take.sd2");
    std::shared_ptr<FakeForkBackend> backend = std::make_shared<FakeForkBackend>();
};

} // namespace

TEST(AppleDouble, UnwrapValidatesTheWholeHeader)
{
    const QByteArray fork = forkWith("2"), finderInfo(32, 'F');
    EXPECT_EQ(AppleDouble::unwrap(appleDouble({{9, finderInfo}, {2, fork}})), fork);
    EXPECT_EQ(AppleDouble::unwrap(appleDouble({{2, fork}}, 0x00010000)), fork);
    EXPECT_EQ(AppleDouble::unwrap(appleDouble({{9, finderInfo}})), QByteArray());
    EXPECT_EQ(AppleDouble::unwrap(fork), fork) << "without the magic the bytes are a raw fork";
    // An entry checked after the fork entry still counts, and an empty range overlaps nothing.
    const QByteArray later = appleDouble({{2, fork}, {9, finderInfo}, {3, {}}});
    EXPECT_EQ(AppleDouble::unwrap(later), fork);

    const QByteArray good = appleDouble({{9, finderInfo}, {2, fork}});
    // Version, no entries, too many, more than the bytes hold, the same id twice, an entry inside
    // the header, entries overlapping, an entry past the end.
    const std::pair<int, std::uint32_t> damage[] = {{4, 0x00030000}, {24, 0}, {24, 129}, {24, 100}, {26, 2}, {30, 40}, {34, 33},
                                                    {46, fork.size() + 1}, {46, 0xFFFFFFFF}};
    for (const auto &[offset, value] : damage) {
        QByteArray bytes = good;
        offset == 24 ? put16(bytes, offset, std::uint16_t(value)) : put32(bytes, offset, value);
        EXPECT_EQ(unwrapFailure(bytes), Case::invalid) << offset << " " << value;
    }
    QByteArray badLater = later;
    put32(badLater, 26 + 24, 2);
    for (const QByteArray &bad : {QByteArray("\x00\x05\x16", 3), QByteArray(), badLater})
        EXPECT_EQ(unwrapFailure(bad), Case::invalid);
}

TEST(SD2MetadataReader, FindsTheForkInEveryPlace)
{
    const SD2Metadata expected{2, 44100, 2, 98.76, std::nullopt};
    const QByteArray tagged = forkWith("2", "98.76");
    ReadFixture attribute, companion, folder;
    EXPECT_EQ(attribute.read(), std::nullopt);
    EXPECT_EQ(SD2MetadataReader::read(QUrl::fromLocalFile(attribute.dir.file("missing.sd2")), ForkStore(attribute.backend)), std::nullopt);
    attribute.backend->put(Source::netatalkAttribute, tagged);
    EXPECT_EQ(attribute.read(), expected);
    companion.companion(tagged);
    EXPECT_EQ(companion.read(), expected);
    folder.companion(appleDouble({{9, QByteArray(32, 0)}, {2, tagged}}), true);
    EXPECT_EQ(folder.read(), expected);
    // An AppleDouble file without a fork entry contributes nothing; every place agreeing is fine.
    folder.companion(appleDouble({{9, QByteArray(32, 0)}}));
    folder.backend->put(Source::appleAttribute, tagged);
    EXPECT_EQ(folder.read(), expected);

    // A real extended attribute, as the store writes it.
    ReadFixture real;
    try {
        ForkStore().write(real.path, forkWith("1"));
        EXPECT_EQ(SD2MetadataReader::read(QUrl::fromLocalFile(real.path)), (SD2Metadata{2, 44100, 1, std::nullopt, std::nullopt}));
    } catch (const ForkStoreError &error) {
        EXPECT_EQ(error.kind(), ForkStoreError::Kind::noAttributes) << error.what();
    }
}

TEST(SD2MetadataReader, ConflictingUnsafeOrDamagedPlaces)
{
    QByteArray big = forkWith("2");
    big.append(QByteArray(SD2MetadataReader::inspectionLimit + 1 - big.size(), '\0'));
    const struct {
        const char *what;
        std::function<void(ReadFixture &)> prepare;
        std::optional<Case> outcome;
    } setups[] = {
        {"equal parameters, tempos in force differing",
         [](ReadFixture &f) { f.backend->put(Source::netatalkAttribute, forkWith("2", "98.76")), f.companion(forkWith("2", "98.77")); },
         Case::conflicting},
        {"companions differing", [](ReadFixture &f) { f.companion(forkWith("2")), f.companion(forkWith("1"), true); }, Case::conflicting},
        {"own-fork places differing",
         [](ReadFixture &f) { f.backend->put(Source::pseudoFile, forkWith("2")), f.backend->put(Source::appleAttribute, forkWith("1")); },
         Case::conflicting},
        {"empty companion", [](ReadFixture &f) { f.companion(""); }, Case::invalid},
        {"linked companion", [](ReadFixture &f) { writeFile(f.dir.file("real"), forkWith("2")), f.link("real", "._take.sd2"); }, Case::access},
        // A FIFO would block a plain open; a folder is no file.
        {"FIFO companion", [](ReadFixture &f) { ::mkfifo(QFile::encodeName(f.dir.file("._take.sd2")).constData(), 0600); }, Case::access},
        {"folder companion", [](ReadFixture &f) { QDir(f.dir.path()).mkpath("._take.sd2"); }, Case::access},
        // Refused even though its target is fine.
        {"linked .AppleDouble folder", [](ReadFixture &f) {
             f.companion(forkWith("2"), true), QDir(f.dir.path()).rename(".AppleDouble", "elsewhere"), f.link("elsewhere", ".AppleDouble");
         }, Case::access},
        {"oversized companion", [&](ReadFixture &f) { f.companion(big); }, Case::tooLarge},
        {"oversized attribute", [&](ReadFixture &f) { f.backend->put(Source::netatalkAttribute, big); }, Case::tooLarge},
        // The own fork failing for another reason than absence is passed on as it is.
        {"own fork not a folder",
         [](ReadFixture &f) { f.backend->fail(Source::pseudoFile, ENOTDIR), f.backend->put(Source::netatalkAttribute, forkWith("9")); },
         Case::unsupported},
        {"a plain file named .AppleDouble holds no companion", [](ReadFixture &f) { writeFile(f.dir.file(".AppleDouble"), "x"); },
         std::nullopt},
    };
    for (const auto &setup : setups) {
        ReadFixture file;
        setup.prepare(file);
        EXPECT_EQ(file.failure(), setup.outcome) << setup.what;
    }
    ReadFixture file;
    file.backend->fail(Source::pseudoFile, EIO);
    EXPECT_THROW(file.read(), SystemError);
}

TEST(SD2MetadataReader, ReadsFilesWrittenByLibsndfile)
{
    const QString convert = QStandardPaths::findExecutable("sndfile-convert"), sox = QStandardPaths::findExecutable("sox");
    if (convert.isEmpty() || sox.isEmpty())
        GTEST_SKIP() << "sndfile-convert and sox are needed";
    for (const auto &[bits, rate, channels] : {std::tuple(16, 44100, 2), std::tuple(24, 48000, 1), std::tuple(8, 22050, 1),
                                              std::tuple(32, 96000, 2)}) {
        TempDir dir;
        const QString wav = dir.file("source.wav"), sd2 = dir.file("Take.sd2");
        runChecked(sox, {"-n", "-r", QString::number(rate), "-c", QString::number(channels), "-b", "16", wav, "synth", "0.05",
                         "sine", "440"});
        runChecked(convert, {bits == 8 ? QStringLiteral("-pcms8") : QStringLiteral("-pcm%1").arg(bits), wav, sd2});
        ASSERT_TRUE(QFileInfo::exists(dir.file("._Take.sd2")));
        EXPECT_EQ(SD2MetadataReader::read(QUrl::fromLocalFile(sd2)), (SD2Metadata{bits / 8, rate, channels, std::nullopt, std::nullopt}));
    }
}

TEST(SD2MetadataReader, ResourceStorageIsAnyCompanionOrANonEmptyFork)
{
    // Any item counts as a companion, even an empty file, a folder or a dangling link.
    test::TempDir dir;
    const auto storage = [&](const char *name) { return SD2MetadataReader::hasResourceStorage(QUrl::fromLocalFile(dir.file(name))); };
    test::writeFile(dir.file("plain.sd2"), "audio");
    test::writeFile(dir.file("._a.sd2"), "");
    ASSERT_TRUE(QDir(dir.path()).mkpath("._b.sd2") && QDir(dir.path()).mkpath(".AppleDouble"));
    ASSERT_TRUE(QFile::link(dir.file("nowhere"), dir.file("._c.sd2")));
    test::writeFile(dir.file(".AppleDouble/d.sd2"), "x");
    for (const auto &[name, stored] : {std::pair{"plain.sd2", false}, {"missing.sd2", false}, {"a.sd2", true},
                                       {"b.sd2", true}, {"c.sd2", true}, {"d.sd2", true}})
        EXPECT_EQ(storage(name), stored) << name;
    try {
        ForkStore().write(dir.file("plain.sd2"), "");
        EXPECT_FALSE(storage("plain.sd2"));
        ForkStore().write(dir.file("plain.sd2"), "fork");
        EXPECT_TRUE(storage("plain.sd2"));
    } catch (const ForkStoreError &error) {
        ASSERT_EQ(error.kind(), ForkStoreError::Kind::noAttributes) << error.what();
    }
}
