#include "platform/decode/media_tag_reader.h"

#include "platform/decode/audio_file_reader.h"

#include "core/error.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace tampod;

TEST(MediaTagReader, ReadsContainerThenStreamTagsThroughOurOwnOpen)
{
    test::TempDir dir;
    // The name would be a protocol and a list of inputs if it reached the demuxer's opener.
    const QString path = dir.file(QStringLiteral("concat:a.m4a|b.m4a"));
    test::runChecked(QStringLiteral("ffmpeg"), {"-loglevel", "error", "-f", "lavfi", "-i", "sine=d=0.2", "-metadata",
                                                "title=Song", "-metadata:s:a:0", "handler_name=Tempo", "-f", "mp4", path});
    const auto places = MediaTagReader::read(path, {});
    ASSERT_EQ(places.size(), 2);
    EXPECT_TRUE(std::any_of(places[0].begin(), places[0].end(),
                            [](const auto &tag) { return tag.key == u"title" && tag.value == u"Song"; }));
    EXPECT_TRUE(std::any_of(places[1].begin(), places[1].end(),
                            [](const auto &tag) { return tag.key == u"handler_name" && tag.value == u"Tempo"; }));
    EXPECT_THROW(MediaTagReader::read(path, test::cancelledToken()), Cancelled);

    EXPECT_THROW(MediaTagReader::read(dir.file(QStringLiteral("missing.ogg")), {}), SystemError);
    test::writeFile(dir.file(QStringLiteral("notes.ogg")), QByteArray(5000, 'x'));
    EXPECT_THROW(MediaTagReader::read(dir.file(QStringLiteral("notes.ogg")), {}), MalformedData);
}

// A glance that opened the demuxer keeps exactly what the tag reader would find, so the
// importer need not open the file a second time for its tags.
TEST(MediaTagReader, AGlanceKeepsTheSameTagsWhereItOpenedTheDemuxer)
{
    test::TempDir dir;
    const auto same = [](const QList<QList<MediaTagReader::Tag>> &a, const QList<QList<MediaTagReader::Tag>> &b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto &x, const auto &y) {
            return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                              [](const auto &s, const auto &t) { return s.key == t.key && s.value == t.value; });
        });
    };
    struct Case {
        const char *name;
        QStringList options;
        bool kept;
    };
    const std::vector<Case> cases = {
        {"tagged.mp3", {"-c:a", "libmp3lame", "-metadata", "TBPM=120", "-metadata", "title=Song"}, true},
        {"tagged.flac", {"-c:a", "flac", "-metadata", "BPM=98", "-metadata:s:a:0", "comment=x"}, true},
        {"tagged.m4a", {"-c:a", "aac", "-metadata", "tmpo=121", "-metadata", "artist=A"}, true},
        {"tagged-long.ogg", {"-c:a", "libvorbis", "-metadata", "BPM=96", "-af", "apad=pad_dur=2"}, true},
        {"tagged.opus", {"-c:a", "libopus", "-metadata", "BPM=97", "-af", "apad=pad_dur=2"}, true},
        {"tagged.ogg", {"-c:a", "libvorbis", "-metadata", "BPM=96"}, true},
        // PCM is read without FFmpeg; a single page of Opus audio takes the full probe.
        {"tagged.wav", {"-c:a", "pcm_s16le", "-metadata", "title=Song"}, false},
        {"tagged-short.opus", {"-c:a", "libopus", "-metadata", "BPM=97"}, false},
    };
    for (const Case &c : cases) {
        const QString path = dir.file(QLatin1String(c.name));
        test::runChecked(QStringLiteral("ffmpeg"), QStringList{"-loglevel", "error", "-f", "lavfi", "-i", "sine=d=0.5"}
                                                       + c.options + QStringList{path});
        SCOPED_TRACE(c.name);
        const auto kept = AudioFileReader(path, {}, AudioFileReader::Use::glance).demuxerTags();
        ASSERT_EQ(kept.has_value(), c.kept);
        EXPECT_FALSE(AudioFileReader(path).demuxerTags().has_value());
        if (kept) {
            EXPECT_FALSE(kept->isEmpty());
            EXPECT_TRUE(same(*kept, MediaTagReader::read(path, {})));
        }
    }
}
