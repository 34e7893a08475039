#include "player/player_model.h"

#include "bpm/bpm_analysis_service.h"
#include "import/audio_importer.h"
#include "platform/encode/audio_file_writer.h"
#include "platform/output/null_audio_output.h"
#include "playback/audio_playback.h"
#include "playback/section_audio_preparer.h"
#include "sd2/sd2_recovery_service.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>

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
