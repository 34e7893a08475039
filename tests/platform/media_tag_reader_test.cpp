#include "platform/decode/media_tag_reader.h"

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
