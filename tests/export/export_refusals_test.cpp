// What the exporters refuse, and that a refused, failed or cancelled export leaves no
// destination file and no staging folder, and never touches the file that was there.
#include "export_fixtures.h"

#include "files/access/missing_audio_source.h"

#include "support/test_support.h"

#include <QRegularExpression>

#include <sched.h>
#include <sys/mount.h>

using namespace tampod;
using namespace tampod::test;
using Case = AudioExportError::Case;

namespace {

const ExportFormat everyWay[] = {ExportFormat::wav, ExportFormat::aiff, ExportFormat::flac, ExportFormat::m4aAAC};

QString extension(ExportFormat format)
{
    return ExportFormats::fileExtension(format);
}

// Every way the audio reaches a file: each container, and a treated export's intermediate.
struct Way {
    ExportFormat format;
    bool treated;
};
const Way everyWriter[] = {{ExportFormat::wav, false}, {ExportFormat::wav, true}, {ExportFormat::aiff, false},
                           {ExportFormat::aiff, true}, {ExportFormat::flac, false}, {ExportFormat::m4aAAC, false},
                           {ExportFormat::sd2, false}};

ExportDefaults settingsOf(const Way &way)
{
    ExportDefaults settings = settingsFor(way.format);
    if (way.treated)
        settings.clippingDB = 3;
    return settings;
}

// "kind status" of an export's failure, and its text when that ends in a status of 0.
std::string failureLine(const std::function<void()> &run)
{
    try {
        run();
    } catch (const AudioExportError &error) {
        const bool zero = error.message().endsWith(QLatin1String("(audio error 0). No destination file was created."));
        return std::to_string(int(error.kind())) + (error.status() != 0 ? " status" : " zero") +
               (zero ? " " + error.message().toStdString() : "");
    }
    return "none";
}

} // namespace

TEST(ExportRefusals, DestinationsThatAreTheSourceOrTaken)
{
    ExportScene scene;
    const QString source = scene.file("source.wav");
    writeAudio(source, 2, 44100, tone(1000, 2));
    const QByteArray original = readAll(source);
    makeLink(source, scene.file("link.wav"));
    ASSERT_EQ(::link(encoded(source).constData(), encoded(scene.file("hard.wav")).constData()), 0);
    writeFile(scene.file("taken.flac"), "an older file");
    makeLink(scene.file("nowhere"), scene.file("dangling.m4a"));
    const AudioTrack track = trackOf(source);

    const std::tuple<QString, ExportFormat, Case> rows[] = {
        {"source.wav", ExportFormat::wav, Case::sourceDestinationConflict},
        {"./source.wav", ExportFormat::flac, Case::sourceDestinationConflict},
        {"link.wav", ExportFormat::aiff, Case::sourceDestinationConflict},
        {"hard.wav", ExportFormat::m4aAAC, Case::sourceDestinationConflict},
        {"taken.flac", ExportFormat::flac, Case::destinationExists},
        {"taken.flac", ExportFormat::wav, Case::destinationExists},
        {"dangling.m4a", ExportFormat::m4aAAC, Case::destinationExists},
        {"dangling.m4a", ExportFormat::aiff, Case::destinationExists},
    };
    for (const auto &[name, format, expected] : rows)
        EXPECT_EQ(scene.failure(scene.request(track, settingsFor(format), name)), int(expected)) << name.toStdString();
    // The loop's rendered file is a source too, and must still be exactly its section.
    AudioExportRequest looped = scene.request(track, settingsFor(ExportFormat::wav), "section.wav");
    looped.loop = sectionLoop(scene.store(), track, 10, 510, 2);
    const QString section = looped.loop->section->url().toLocalFile();
    ASSERT_EQ(::link(encoded(section).constData(), encoded(scene.file("section.wav")).constData()), 0);
    EXPECT_EQ(scene.failure(looped), int(Case::sourceDestinationConflict));
    looped.destination = QUrl::fromLocalFile(scene.file("changed.wav"));
    writeAudio(section + ".new", 2, 44100, tone(499, 2), 32);
    rename(section + ".new", section);
    EXPECT_EQ(scene.failure(looped), int(Case::verificationFailed));
    EXPECT_EQ(readAll(source), original);
    EXPECT_EQ(readAll(scene.file("taken.flac")), "an older file");
    EXPECT_EQ(QFileInfo(scene.file("dangling.m4a")).symLinkTarget(), scene.file("nowhere"));
    EXPECT_FALSE(exists(scene.file("nowhere")));
}

// A name longer than the file system holds says so, in every format, and leaves no staging;
// 255 bytes is still a name.
TEST(ExportRefusals, ADestinationNameTooLongSaysSo)
{
    ExportScene scene;
    const QString source = scene.file("source.wav");
    writeAudio(source, 2, 44100, tone(1000, 2));
    const AudioTrack track = trackOf(source);
    for (const ExportFormat format : everyWay) {
        const QString ending = "." + extension(format);
        const QString tooLong = QString(256 - ending.size(), u'n') + ending;
        try {
            scene.run(scene.request(track, settingsFor(format), tooLong));
            ADD_FAILURE() << "exported to a 256-byte name";
        } catch (const AudioExportError &error) {
            EXPECT_EQ(error.kind(), Case::storage);
            EXPECT_EQ(error.message(), "The destination filename is too long. Choose a shorter filename.");
        }
        const QString longest = QString(255 - ending.size(), u'n') + ending;
        EXPECT_NO_THROW(scene.run(scene.request(track, settingsFor(format), longest)));
        QFile::remove(scene.file(longest));
    }
    // Characters count as the bytes they take: 126 two-byte ones and ".wav" are 256.
    EXPECT_EQ(scene.failure(scene.request(track, settingsFor(ExportFormat::wav), QString(126, u'é') + ".wav")),
              int(Case::storage));
}

TEST(ExportRefusals, SourcesTheExporterCannotConvert)
{
    ExportScene scene;
    const QString three = scene.make("three.wav", "sine=f=440:r=44100:d=0.1", {"-ac", "3"});
    const QString empty = scene.make("empty.wav", "anullsrc=r=44100:cl=stereo", {"-t", "0"});
    writeFile(scene.file("text.wav"), "this is not audio");
    for (const QString &source : {three, empty, scene.file("text.wav")}) {
        for (const ExportFormat format : everyWay)
            EXPECT_EQ(scene.failure(scene.request(trackOf(source), settingsFor(format), "out." + extension(format))),
                      int(Case::unsupportedSource))
                << source.toStdString() << " " << extension(format).toStdString();
    }
    // A track still waiting for SD2 recovery.
    AudioTrack pending = trackOf(scene.file("text.wav"));
    pending.recovery = SD2Recovery{};
    EXPECT_EQ(scene.failure(scene.request(pending, settingsFor(ExportFormat::wav), "pending.wav")),
              int(Case::unsupportedSource));
    // A source that went away is reported as missing, with its name.
    EXPECT_EQ(thrownText<MissingAudioSource>(
                  [&] { scene.run(scene.request(trackOf(scene.file("gone.wav")), settingsFor(ExportFormat::aiff), "x.aiff")); }),
              "gone.wav is no longer available. Reconnect its disk or restore the file, then try again. If it was "
              "moved to another disk, remove its library row and reopen it from its current folder. Removing a row "
              "does not delete audio.");
    EXPECT_EQ(entriesOf(scene.file("")).filter(QRegularExpression("^out|^x|^pending")), QStringList{});
}

TEST(ExportRefusals, SettingsIssuesAndTheSizeLimitBeforeAnyStagingThenTheStore)
{
    ExportScene scene;
    const QString source = scene.file("twenty.wav");
    writeAudio(source, 2, 44100, std::vector<float>(20 * 44100 * 2));
    const AudioTrack track = trackOf(source);
    scene.environment.store = []() -> TemporaryAudioStore & {
        ADD_FAILURE() << "a staging folder was asked for";
        throw SystemError(EIO, "store");
    };
    EXPECT_EQ(thrownText<AudioExportError>([&] { scene.run(scene.request(track, settingsFor(ExportFormat::mp3), "o.mp3")); }),
              "MP3 output is unavailable. Your saved choice is retained; choose WAV, AIFF, FLAC, M4A — AAC or SD2 to "
              "continue.");
    // 999 passes of twenty seconds: 11.5 GB of 24-bit stereo at 96 kHz, 5.7 GB of the M4A's
    // 24-bit render at 48 kHz.
    for (const ExportFormat format : everyWay) {
        AudioExportRequest huge = scene.request(track, settingsFor(format, 24, format == ExportFormat::m4aAAC ? 48000 : 96000),
                                                "huge." + extension(format));
        huge.loop = wholeLoop(track, 20 * 44100, 44100, 999);
        EXPECT_EQ(scene.failure(huge), int(Case::tooLarge)) << extension(format).toStdString();
    }
    // A store that cannot be made is the storage failure.
    scene.environment.store = []() -> TemporaryAudioStore & { throw SystemError(EACCES, "store"); };
    for (const ExportFormat format : everyWay)
        EXPECT_EQ(scene.failure(scene.request(track, settingsFor(format), "out." + extension(format))), int(Case::storage));
}

TEST(ExportRefusals, LateFilesAndCancellationLeaveNothing)
{
    ExportScene scene;
    const QString source = scene.file("source.wav");
    writeAudio(source, 2, 44100, tone(100000, 2));
    for (const ExportFormat format : everyWay) {
        // A file that appears at the destination meanwhile is never replaced.
        const QString late = "late." + extension(format);
        const auto plant = [&](double) {
            if (!exists(scene.file(late)))
                writeFile(scene.file(late), "written by someone else");
        };
        EXPECT_EQ(failureOf([&] {
                      AudioFileExporter::run(scene.request(trackOf(source), settingsFor(format), late), plant, {},
                                             scene.environment);
                  }),
                  int(Case::destinationExists));
        EXPECT_EQ(readAll(scene.file(late)), "written by someone else");
        // Cancelled at the first report or in the treatment pass, nothing is published.
        for (const double at : {0.0, 0.7}) {
            CancellationSource cancel;
            ExportDefaults settings = settingsFor(format);
            settings.clippingDB = 3;
            EXPECT_THROW(AudioFileExporter::run(scene.request(trackOf(source), settings, "c." + extension(format)),
                                                [&](double p) { if (p >= at) cancel.cancel(); }, cancel.token(),
                                                scene.environment),
                         Cancelled);
            EXPECT_FALSE(exists(scene.file("c." + extension(format))));
        }
    }
}
TEST(ExportRefusals, AFullDiskIsTheStorageFailureWithItsStatusInEveryFormat)
{
    ExportScene scene;
    const QString source = scene.file("noise.wav");
    std::vector<float> noise(size_t(8 * 44100 * 2));
    std::uint32_t seed = 1;
    for (float &sample : noise)
        sample = float((seed = seed * 1664525u + 1013904223u) >> 8) / float(1 << 24) - 0.5f;
    writeAudio(source, 2, 44100, noise);
    const QString tiny = scene.file("tiny");
    makeFolder(tiny);
    const QString results = scene.file("results");
    // A memory file system of 64 kB in a mount namespace of the child's own.
    const int status = inChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tampod-tiny", encoded(tiny).constData(), "tmpfs", 0, "size=64k") != 0)
            return 3;
        QByteArray lines;
        for (const Way &way : everyWriter) {
            AudioExportRequest request = scene.request(trackOf(source), settingsOf(way), "tiny/out." + extension(way.format));
            lines += QByteArray::fromStdString(failureLine([&] { scene.run(request); })) + " left " +
                     QByteArray::number(entriesOf(tiny).size()) + "\n";
        }
        writeFile(results, lines);
        return 0;
    });
    if (status == 3)
        GTEST_SKIP() << "no memory file system can be mounted here";
    ASSERT_EQ(status, 0);
    const QStringList lines = QString::fromUtf8(readAll(results)).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(size_t(lines.size()), std::size(everyWriter));
    for (size_t i = 0; i < std::size(everyWriter); ++i)
        EXPECT_EQ(lines[qsizetype(i)], QStringLiteral("%1 status left 0").arg(int(Case::storage)))
            << extension(everyWriter[i].format).toStdString() << (everyWriter[i].treated ? " treated" : "");
}

TEST(ExportRefusals, ASourceCutShortDuringTheExportFailsWithAStatus)
{
    ExportScene scene;
    for (const AudioFileType type : {AudioFileType::wav, AudioFileType::aiff}) {
        for (const Way &way : everyWriter) {
            const QString source = scene.file(type == AudioFileType::wav ? "cut.wav" : "cut.aiff");
            writeAudio(source, 2, 44100, tone(100000, 2), 16, type);
            const auto cut = [&](double) { ASSERT_EQ(::truncate(encoded(source).constData(), 4096), 0); };
            const std::string line = failureLine([&] {
                AudioFileExporter::run(scene.request(trackOf(source), settingsOf(way), "out." + extension(way.format)),
                                       cut, {}, scene.environment);
            });
            EXPECT_EQ(line, std::to_string(int(Case::native)) + " status")
                << source.toStdString() << " to " << extension(way.format).toStdString();
            QFile::remove(source);
        }
    }
}

// A stretch of the source the system cannot read (an unreadable sector, a share that drops) is
// a failed export in every source format, never a shorter one. (Where the open walks every page
// to learn the length, as for Ogg, the open is the step that fails.) PCM to FLAC at the source's
// depth is encoded from the source itself, and still names the decode as the failed step.
TEST(ExportRefusals, AReadTheSystemFailsInTheSourceFailsTheExport)
{
    ExportScene scene;
    makeFolder(scene.file("sources"));
    const QRegularExpression expected(QStringLiteral("^Audio conversion failed during (opening|decoding) source \\(audio "
                                                     "error -5\\)\\. No destination file was created\\.$"));
    QStringList sources = makeNoiseSources(scene.file("sources"), 12);
    sources.append(scene.file("sources/tone.aiff"));
    writeAudio(sources.last(), 2, 44100, tone(12 * 44100, 2), 16, AudioFileType::aiff);
    for (const QString &source : sources) {
        const qint64 middle = QFileInfo(source).size() / 2;
        BadStretch bad(source, middle - 2048, middle + 2048);
        for (const ExportFormat format : {ExportFormat::wav, ExportFormat::m4aAAC, ExportFormat::flac}) {
            const QString name = "out." + extension(format);
            const QString text =
                caught<AudioExportError>([&] { scene.run(scene.request(trackOf(source), settingsFor(format), name)); },
                                         [](const AudioExportError &error) { return error.message(); })
                    .value_or(QStringLiteral("none"));
            const std::string where = source.toStdString() + " to " + name.toStdString();
            EXPECT_TRUE(expected.match(text).hasMatch()) << text.toStdString() << " for " << where;
            if (source.endsWith(".wav") || source.endsWith(".aiff")) {
                EXPECT_TRUE(text.contains("during decoding source")) << text.toStdString() << " for " << where;
            }
            EXPECT_FALSE(exists(scene.file(name))) << where;
            QFile::remove(scene.file(name));
        }
    }
}

TEST(ExportRefusals, TheActorDeliversResultsAndErrors)
{
    ExportScene scene;
    const QString source = scene.file("source.wav");
    writeAudio(source, 2, 44100, tone(20000, 2));
    AudioFileExporter exporter(scene.environment);
    const auto request = scene.request(trackOf(source, 90), settingsFor(ExportFormat::flac), "actor.flac");
    const AudioExportResult result = runTask([&]() -> QCoro::Task<AudioExportResult> {
        co_return co_await exporter.exportAudio(request, {}, {});
    }());
    EXPECT_EQ(std::tuple(result.destination, result.frames, result.channels, result.sampleRate),
              std::tuple(request.destination, std::int64_t(20000), 2u, std::int64_t(44100)));
    EXPECT_TRUE(result.additionalDestinations.isEmpty());
    EXPECT_THROW(exporter.exportAudio(request, {}, {}).wait(), AudioExportError);
}

TEST(ExportRefusals, AFolderReachedThroughALinkIsTheRealFolderAndOneThatIsNoFolderIsRefusedFirst)
{
    ExportScene scene;
    const QString source = scene.file("source.wav");
    writeAudio(source, 2, 44100, tone(4410, 2));
    const AudioTrack track = trackOf(source);
    ASSERT_TRUE(QDir().mkpath(scene.file("real")));
    makeLink(scene.file("real"), scene.file("linked"));
    for (const ExportFormat format : {ExportFormat::wav, ExportFormat::flac}) {
        const QString name = "out." + extension(format);
        const AudioExportResult result = scene.run(scene.request(track, settingsFor(format), "linked/" + name));
        EXPECT_EQ(result.destination.toLocalFile(), scene.file("real/" + name));
        EXPECT_EQ(framesOf(scene.file("real/" + name)), 4410);
    }
    EXPECT_EQ(entriesOf(scene.file("real")), (QStringList{"out.flac", "out.wav"}));

    // A link to a file, or one to nothing, given as the folder: refused before any staging or
    // rendering, and the link's target is left alone.
    writeFile(scene.file("plain"), "a file");
    makeLink(scene.file("plain"), scene.file("to-file"));
    makeLink(scene.file("nowhere"), scene.file("dangling"));
    scene.environment.store = []() -> TemporaryAudioStore & {
        ADD_FAILURE() << "a staging folder was asked for";
        throw SystemError(EIO, "store");
    };
    for (const QString folder : {"to-file", "dangling"}) {
        for (const ExportFormat format : everyWay) {
            std::vector<double> progress;
            const AudioExportRequest request =
                scene.request(track, settingsFor(format), folder + "/out." + extension(format));
            EXPECT_EQ(failureOf([&] { scene.run(request, &progress); }), int(Case::storage)) << folder.toStdString();
            EXPECT_EQ(progress, std::vector<double>{});
        }
    }
    EXPECT_EQ(readAll(scene.file("plain")), "a file");
    EXPECT_FALSE(exists(scene.file("nowhere")));
}
