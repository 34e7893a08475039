#include "views/library/library_rows.h"

#include "library_fixture.h"

using namespace tampod;

namespace {

using LibraryRows = test::LibraryFixture;

} // namespace

TEST_F(LibraryRows, AWavFileWithATempo)
{
    EXPECT_TRUE(libraryRows(*model).empty());
    AudioTrack wav = track("song.wav", 120.5);
    wav.duration = 185.9;
    model->append({wav});

    const auto rows = libraryRows(*model);
    ASSERT_EQ(rows.size(), 1u);
    const LibraryRow &row = rows[0];
    EXPECT_EQ(row.id, wav.id);
    EXPECT_EQ(row.name, "song.wav");
    EXPECT_EQ(row.bpm, "120") << "x.5 rounds down";
    EXPECT_EQ(row.duration, "03:05");
    EXPECT_EQ(row.type, "WAV");
    EXPECT_EQ(row.sampleRate, "44.1 kHz");
    EXPECT_EQ(row.resolution, "16-bit");
    EXPECT_EQ(row.repeatSymbol, std::nullopt);
    EXPECT_EQ(row.help, "song.wav\n44.1 kHz, 16-bit\n");
    EXPECT_EQ(row.linkedChannel, std::nullopt);
    EXPECT_FALSE(row.canDetectBPM) << "the tempo is known";
    EXPECT_EQ(row.bpmStatus, std::nullopt);
    EXPECT_EQ(libraryRows(*model), rows) << "the same state gives equal rows";
    LibraryRowCache cache;
    EXPECT_EQ(libraryRows(*model, &cache), rows);
    EXPECT_EQ(libraryRows(*model, &cache), rows) << "from the kept texts";
    AudioTrack renamed = wav;
    renamed._url = TrackedFileURL(QUrl::fromLocalFile("/library/other.wav"));
    model->replaceLibraryTracks({wav}, {renamed});
    EXPECT_EQ(libraryRows(*model, &cache), libraryRows(*model));
}

TEST_F(LibraryRows, TypesAndGetAvailability)
{
    AudioTrack bare = track("loop");
    bare.importedFormat = {};
    const AudioTrack rex = track("beat.rx2");
    const AudioTrack sd2 = test::channelRecord("/library/voice.SD2");
    model->append({bare, rex, sd2});
    const auto rows = libraryRows(*model);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].type, "");
    EXPECT_EQ(rows[0].sampleRate, "—");
    EXPECT_EQ(rows[0].resolution, "—");
    EXPECT_EQ(rows[1].type, "RX2");
    EXPECT_EQ(rows[2].type, "SD2");
    for (const LibraryRow &row : rows) {
        EXPECT_EQ(row.bpm, "—");
        EXPECT_TRUE(row.canDetectBPM) << row.name.toStdString();
    }

    // While any pair is being prepared, no row offers Get.
    const AudioTrack left = test::channelRecord("/library/take.L");
    const AudioTrack right = test::channelRecord("/library/take.R");
    model->append({left, right});
    model->pairSD2(left, right); // without files it fails later
    ASSERT_TRUE(model->pairing().isPreparing());
    for (const LibraryRow &row : libraryRows(*model))
        EXPECT_FALSE(row.canDetectBPM) << row.name.toStdString();
}

TEST_F(LibraryRows, APairShowsAsItsChannelRows)
{
    const AudioTrack left = test::channelRecord("/library/take.L");
    const AudioTrack right = test::channelRecord("/library/take.R");
    AudioTrack pair = pairOf(left, right);
    model->append({track("a.wav"), pair});

    auto rows = libraryRows(*model);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].id, left.id);
    EXPECT_EQ(rows[1].name, "take.L");
    EXPECT_EQ(rows[1].type, "SD2 L");
    EXPECT_EQ(rows[1].linkedChannel, "L");
    EXPECT_EQ(rows[1].help.section('\n', 2), "Linked L channel; plays and exports with its partner");
    EXPECT_EQ(rows[2].name, "take.R");
    EXPECT_EQ(rows[2].type, "SD2 R");
    EXPECT_EQ(rows[2].linkedChannel, "R");
    EXPECT_EQ(rows[2].help.section('\n', 2), "Linked R channel; plays and exports with its partner");

    // Both rows follow the pair's detection and the pair's tempo.
    model->getBPM(right.id);
    rows = libraryRows(*model);
    ASSERT_TRUE(rows[1].bpmStatus);
    EXPECT_EQ(rows[1].bpmStatus, rows[2].bpmStatus);
    EXPECT_EQ(rows[0].bpmStatus, std::nullopt);
    ASSERT_TRUE(test::pumpUntil([&] { return analyzer->calls.size() == 1; }));
    EXPECT_EQ(analyzer->calls[0].track.id, pair.id);
    analyzer->end(0, 99.6);
    ASSERT_TRUE(test::pumpUntil([&] { return model->bpmDetection().states().isEmpty(); }));
    rows = libraryRows(*model);
    EXPECT_EQ(rows[1].bpm, "100");
    EXPECT_EQ(rows[2].bpm, "100");
    EXPECT_FALSE(rows[1].canDetectBPM);
}

TEST_F(LibraryRows, RepeatMarks)
{
    const AudioTrack a = track("a.wav");
    model->append({a, track("b.wav")});
    model->toggleRepeat();
    auto rows = libraryRows(*model);
    EXPECT_EQ(rows[0].repeatSymbol, RepeatSymbol::repeat);
    EXPECT_EQ(rows[1].repeatSymbol, std::nullopt);

    model->toggleSectionLoop();
    ASSERT_TRUE(test::pumpUntil([&] { return model->sectionLoop().range().has_value(); }));
    rows = libraryRows(*model);
    EXPECT_EQ(rows[0].repeatSymbol, RepeatSymbol::repeatOne);
    EXPECT_EQ(rows[1].repeatSymbol, std::nullopt);
}

TEST_F(LibraryRows, APendingRecovery)
{
    AudioTrack waiting = test::channelRecord("/library/old.sd2");
    waiting.sd2Format.reset();
    waiting.recovery = SD2Recovery{};
    waiting.duration = 12;
    model->append({waiting});

    const auto rows = libraryRows(*model);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].duration, "—");
    EXPECT_EQ(rows[0].type, "SD2");
    EXPECT_EQ(rows[0].sampleRate, "—");
    EXPECT_FALSE(rows[0].canDetectBPM);
    EXPECT_EQ(rows[0].help.section('\n', 2),
              "Missing SD2 metadata: choose bit depth, sample rate and channels before recovery.");
}

TEST_F(LibraryRows, NoGetWhileARecoveryOfTheTrackIsQueued)
{
    AudioTrack recovered = test::channelRecord("/library/old.sd2");
    recovered.recovery = SD2Recovery{std::make_shared<const SD2RecoveredCopy>(
                                         QUrl::fromLocalFile("/copies/old.wav"), 44100, 1000, "x", 2, 1),
                                     recovered.sd2Format};
    model->append({recovered});
    ASSERT_TRUE(libraryRows(*model)[0].canDetectBPM);
    model->select(recovered.id, false);
    model->recoverSelected(SD2Metadata{2, 48000, 1, std::nullopt, std::nullopt});
    ASSERT_TRUE(model->recoveryQueue().states().contains(recovered.id));
    EXPECT_FALSE(libraryRows(*model)[0].canDetectBPM);
    model->recoveryQueue().cancel(recovered.id, true);
    EXPECT_TRUE(libraryRows(*model)[0].canDetectBPM);
}
