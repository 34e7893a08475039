#include "core/file_handle.h"
#include "core/folder.h"
#include "core/native_path.h"
#include "core/outside_file_url.h"

#include "support/test_support.h"

#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace tampod;

TEST(NativePath, AnyBytesComeBackExactly)
{
    // Every single byte, the malformed forms UTF-8 refuses (overlong, surrogate halves, past
    // U+10FFFF, cut short, stray continuations) and valid text around them.
    std::vector<QByteArray> names;
    for (int byte = 1; byte < 256; ++byte)
        names.push_back(QByteArray(1, char(byte)));
    for (const char *name : {"bad\xff\xfe.wav", "\xc0\x80", "\xed\xa0\x80\xed\xb0\x80", "\xed\xb3\xbf",
                             "\xf4\x90\x80\x80", "\xe2\x82", "caf\xc3", "\x80\xbf", "\xf0\x9f\x8e\xb5\xff",
                             "\xc3\xa9\xe9", "\xf8\x88\x80\x80\x80"})
        names.emplace_back(name);
    QRandomGenerator random(7);
    for (int i = 0; i < 2000; ++i) {
        QByteArray bytes(1 + random.bounded(12), Qt::Uninitialized);
        for (char &c : bytes)
            c = char(random.bounded(1, 256));
        names.push_back(bytes);
    }
    for (const QByteArray &name : names)
        EXPECT_EQ(encodedPath(decodedPath(name)), name) << name.toHex().toStdString();
}

TEST(NativePath, Utf8ReadsAsTextAndOtherBytesShowAsReplacements)
{
    const QString text = QStringLiteral("Take 1\n\t\u00e9\u20ac\U0001F3B5-.wav");
    EXPECT_EQ(decodedPath(text.toUtf8()), text);
    EXPECT_EQ(encodedPath(text), text.toUtf8());
    EXPECT_FALSE(hasUndecodedBytes(text));
    EXPECT_EQ(displayedPath(text), text);

    const QString latin = decodedPath("caf\xe9 \xc3\xa9\xff.wav");
    EXPECT_EQ(latin, QStringLiteral("caf") + QChar(0xDCE9) + QStringLiteral(" \u00e9") + QChar(0xDCFF)
                         + QStringLiteral(".wav"));
    EXPECT_TRUE(hasUndecodedBytes(latin));
    EXPECT_EQ(displayedPath(latin), QStringLiteral("caf\uFFFD \u00e9\uFFFD.wav"));
    // A lone surrogate that no name decodes to has no byte of its own.
    EXPECT_EQ(encodedPath(QString(QChar(0xD800)) + QLatin1Char('a')), QByteArray("\xef\xbf\xbd" "a"));
}

TEST(NativePath, AFileNamedWithBytesThatAreNotUtf8IsReachedByEveryOpen)
{
    test::TempDir dir;
    const QByteArray folderBytes = QFile::encodeName(dir.path()) + "/old\xe9";
    ASSERT_EQ(::mkdir(folderBytes.constData(), 0700), 0);
    const QByteArray fileBytes = folderBytes + "/bad\xff\xfe.wav";
    const int fd = ::open(fileBytes.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "RIFF", 4), 4);
    ::close(fd);

    const Folder folder = Folder::open(decodedPath(folderBytes));
    QByteArray listed;
    folder.visitEntries(10, [&](const Folder::Entry &entry) {
        listed = entry.name;
        return true;
    });
    ASSERT_EQ(listed, QByteArray("bad\xff\xfe.wav"));
    const QString path = folder.pathOf(listed);
    EXPECT_EQ(encodedPath(path), fileBytes);
    EXPECT_EQ(FileHandle::openOutside(path).readUpTo(8), "RIFF");
    EXPECT_EQ(folder.openOutside(listed).size(), 4);
    EXPECT_TRUE(statusOf(path, LinkPolicy::NoFollow).has_value());
    EXPECT_TRUE(isReadable(path));
    EXPECT_EQ(resolvedPath(path), path);
    EXPECT_TRUE(removeFile(path));
    EXPECT_FALSE(statusOf(path, LinkPolicy::NoFollow).has_value());
}

TEST(NativePath, AFileUrlFromOutsideGivesItsEscapedBytes)
{
    // As file managers write them into a drop, and as another launch forwards them.
    EXPECT_EQ(encodedPath(localPathOf(QUrl("file:///m/old%E9/bad%FF%FE%20x.wav"))),
              QByteArray("/m/old\xe9/bad\xff\xfe x.wav"));
    EXPECT_EQ(localPathOf(QUrl("file:///m/%E2%82%AC%EF%BF%BD.wav")), QStringLiteral("/m/\u20ac\uFFFD.wav"));
    // A URL of ours holds the bytes as text already.
    const QString ours = decodedPath("/m/\xef\xbf\xbd\xff.wav");
    EXPECT_EQ(localPathOf(QUrl::fromLocalFile(ours)), ours);
}
