#include "player/player_model.h"

#include "bpm/bpm_analysis_service.h"
#include "core/native_path.h"
#include "export/engine/audio_file_exporter.h"
#include "import/audio_importer.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/encode/audio_file_writer.h"
#include "platform/output/null_audio_output.h"
#include "playback/audio_playback.h"
#include "playback/section_audio_preparer.h"
#include "sd2/sd2_recovery_service.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <cstdio>
#include <sys/stat.h>

using namespace tampod;

// Real files, the real importer and engine, and the null output pacing in real time.
TEST(PlayerEndToEnd, AnImportedFolderPlaysThroughAndStopsAfterItsLastTrack)
{
    auto output = std::make_shared<NullAudioOutput>();
    AudioOutput::setShared(output);
    test::TempDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("set"));
    const std::vector<float> tone(1600, 0.25f); // 0.2 s at 8 kHz
    for (const char *name : {"2.wav", "1.wav", "10.wav"}) {
        AudioFileWriter writer(dir.file(QStringLiteral("set/") + name), {AudioFileType::wav, 8000, 1, 16, false, 0});
        writer.writeInterleaved(tone.data(), std::int64_t(tone.size()));
        writer.finish();
    }
    {
        PlayerModel model(std::make_shared<AudioPlayback>(), std::make_shared<AudioImporter>(),
                          std::make_shared<SD2RecoveryService>(), std::make_shared<SectionAudioPreparer>(),
                          BPMAnalysisService::shared());
        QStringList warnings, played;
        model.warn = [&](const QString &title, const QString &, const QStringList &) { warnings.append(title); };
        QObject::connect(&model, &PlayerModel::isPlayingChanged, [&] {
            if (model.isPlaying())
                played.append(model.selectedTrack()->projectedURL().fileName());
        });
        model.importFiles({QUrl::fromLocalFile(dir.file("set"))}, false);
        ASSERT_TRUE(test::pumpUntil([&] { return model.tracks().size() == 3; }));
        model.play();
        ASSERT_TRUE(test::pumpUntil([&] { return played.size() == 3 && !model.isPlaying(); }));
        EXPECT_EQ(played, (QStringList{"1.wav", "2.wav", "10.wav"}));
        EXPECT_EQ(model.selectedTrack()->projectedURL().fileName(), "10.wav");
        EXPECT_EQ(model.levels(), (PlayerModel::Levels{0, 0}));
        EXPECT_TRUE(warnings.isEmpty());
    }
    // The model's cancelled tasks (the position monitor's poll) end at their next step; let
    // them reach it so no suspended frame outlives the test.
    test::pumpUntil([] { return false; }, std::chrono::milliseconds(150));
    AudioOutput::setShared(nullptr);
}

// Archives from older systems carry names that are not UTF-8: such a file is found by the folder
// walk, read, played and exported by its real name, and shown with the bytes replaced.
TEST(PlayerEndToEnd, AFileWhoseNameIsNotUtf8IsImportedPlayedAndExported)
{
    auto output = std::make_shared<NullAudioOutput>();
    AudioOutput::setShared(output);
    test::TempDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    ASSERT_EQ(::mkdir(root + "/set", 0700), 0);
    ASSERT_EQ(::mkdir(root + "/out\xfe", 0700), 0);
    {
        const std::vector<float> tone(1600, 0.25f); // 0.2 s at 8 kHz
        AudioFileWriter writer(dir.file("made.wav"), {AudioFileType::wav, 8000, 1, 16, false, 0});
        writer.writeInterleaved(tone.data(), std::int64_t(tone.size()));
        writer.finish();
    }
    const QByteArray source = root + "/set/bad\xff\xfe.wav";
    ASSERT_EQ(std::rename(root + "/made.wav", source), 0);
    {
        PlayerModel model(std::make_shared<AudioPlayback>(), std::make_shared<AudioImporter>(),
                          std::make_shared<SD2RecoveryService>(), std::make_shared<SectionAudioPreparer>(),
                          BPMAnalysisService::shared());
        QStringList warnings;
        model.warn = [&](const QString &title, const QString &message, const QStringList &details) {
            warnings << title << message << details;
        };
        model.importFiles({QUrl::fromLocalFile(dir.file("set"))}, false);
        ASSERT_TRUE(test::pumpUntil([&] { return model.tracks().size() == 1 || !warnings.isEmpty(); }));
        ASSERT_EQ(model.tracks().size(), 1) << warnings.join(QLatin1Char('\n')).toStdString();
        const AudioTrack track = model.tracks().first();
        EXPECT_EQ(encodedPath(track.url().toLocalFile()), source);
        EXPECT_EQ(displayedPath(track.projectedURL().fileName()), QStringLiteral("bad\uFFFD\uFFFD.wav"));
        EXPECT_DOUBLE_EQ(track.duration, 0.2);
        EXPECT_EQ(AudioFileReader(track.audioURL().toLocalFile()).length(), 1600);

        bool played = false;
        QObject::connect(&model, &PlayerModel::isPlayingChanged, [&] { played = played || model.isPlaying(); });
        model.play();
        ASSERT_TRUE(test::pumpUntil([&] { return played && !model.isPlaying(); }));

        TemporaryAudioStore store(QUrl::fromLocalFile(dir.file("store")));
        ExportEnvironment environment;
        environment.store = [&store]() -> TemporaryAudioStore & { return store; };
        AudioExportRequest request;
        request.track = track;
        request.settings.format = ExportFormat::wav;
        request.settings.bitDepth = 16;
        request.settings.sampleRate = 8000;
        request.destination = QUrl::fromLocalFile(decodedPath(root + "/out\xfe/copy.wav"));
        const AudioExportResult result = AudioFileExporter::run(request, [](double) {}, {}, environment);
        EXPECT_EQ(result.frames, 1600);
        struct stat written {};
        EXPECT_EQ(::stat(root + "/out\xfe/copy.wav", &written), 0);
        EXPECT_EQ(AudioFileReader(result.destination.toLocalFile()).length(), 1600);
        // A compressed export, to a name of such bytes too.
        request.settings.format = ExportFormat::flac;
        request.destination = QUrl::fromLocalFile(decodedPath(root + "/out\xfe/copy\xff.flac"));
        EXPECT_EQ(AudioFileExporter::run(request, [](double) {}, {}, environment).frames, 1600);
        EXPECT_EQ(::stat(root + "/out\xfe/copy\xff.flac", &written), 0);
        EXPECT_TRUE(warnings.isEmpty());
    }
    test::pumpUntil([] { return false; }, std::chrono::milliseconds(150));
    AudioOutput::setShared(nullptr);
}
