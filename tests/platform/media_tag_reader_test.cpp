#include "platform/media_tag_reader.h"

#include "core/error.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tampod;

namespace {

using Places = QList<QList<std::pair<QString, QString>>>;

Places tags(const QString &path, const CancellationToken &token = {})
{
    Places places;
    for (const auto &place : MediaTagReader::read(path, token)) {
        places.append(QList<std::pair<QString, QString>>());
        for (const auto &tag : place)
            places.last().append({tag.key, tag.value});
    }
    return places;
}

void makeMedia(const QStringList &arguments)
{
    const auto result = test::runProgram(
        QStringLiteral("ffmpeg"), QStringList{"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                                              "sine=f=440:d=0.2", "-fflags", "+bitexact", "-map_metadata", "-1"}
                                      + arguments);
    ASSERT_TRUE(result.ok) << result.err.toStdString();
}

} // namespace

TEST(MediaTagReader, ContainerTagsFirstThenEachStream)
{
    test::TempDir dir;
    // The name would be a protocol and a list of inputs if it reached the demuxer's opener.
    const QString path = dir.file(QStringLiteral("concat:a.m4a|b.m4a"));
    makeMedia({"-metadata", "title=Song", "-metadata:s:a:0", "handler_name=Tempo", "-c:a", "aac", "-f", "mp4", path});
    const Places places = tags(path);
    ASSERT_EQ(places.size(), 2);
    EXPECT_TRUE(places[0].contains(std::pair(QStringLiteral("title"), QStringLiteral("Song"))));
    EXPECT_TRUE(places[1].contains(std::pair(QStringLiteral("handler_name"), QStringLiteral("Tempo"))));

    const QString plain = dir.file(QStringLiteral("plain.wav"));
    makeMedia({plain});
    EXPECT_EQ(tags(plain), Places());
}

TEST(MediaTagReader, RefusesWhatIsNoMediaFile)
{
    test::TempDir dir;
    EXPECT_THROW(tags(dir.file(QStringLiteral("missing.ogg"))), SystemError);
    EXPECT_THROW(tags(dir.path()), MalformedData);
    const QString fifo = dir.file(QStringLiteral("fifo.ogg"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_THROW(tags(fifo), MalformedData) << "a FIFO is refused without waiting for a writer";
    const QString text = dir.file(QStringLiteral("notes.ogg"));
    test::writeFile(text, QByteArray(5000, 'x'));
    EXPECT_THROW(tags(text), MalformedData);

    const QString ogg = dir.file(QStringLiteral("a.ogg"));
    makeMedia({"-metadata", "BPM=96", ogg});
    CancellationSource cancelled;
    cancelled.cancel();
    EXPECT_THROW(tags(ogg, cancelled.token()), Cancelled);
}
