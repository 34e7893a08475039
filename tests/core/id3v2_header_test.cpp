#include "core/id3v2_header.h"

#include <gtest/gtest.h>

using namespace tampod;

TEST(Id3v2Header, ReadsTheTenByteHeaderAndItsSynchsafeSize)
{
    const auto header = Id3v2::header(QByteArray("ID3\x04\x01\x50\x00\x00\x02\x01", 10) + "body");
    ASSERT_TRUE(header);
    EXPECT_EQ(header->version, 4);
    EXPECT_EQ(header->revision, 1);
    EXPECT_EQ(header->flags, 0x50);
    EXPECT_EQ(header->size, 257u);
    EXPECT_TRUE(header->hasFooter());
    EXPECT_EQ(header->tagLength(), 277u);
    const auto flaggedOld = Id3v2::header(QByteArray("ID3\x03\x00\x10\x00\x00\x02\x01", 10));
    EXPECT_FALSE(flaggedOld->hasFooter());
    EXPECT_EQ(flaggedOld->tagLength(), 267u);
    EXPECT_EQ(Id3v2::header(QByteArray("ID3\x03\0\0\x7F\x7F\x7F\x7F", 10))->size, 0x0FFF'FFFFu);
    EXPECT_EQ(Id3v2::header(QByteArray("ID3\x03\0\0\x7F\x7F\x7F\x7F", 10))->tagLength(), 0x0FFF'FFFFu + 10);

    for (const QByteArray &bad : {QByteArray("ID3\x03\0\0\0\0\0", 9), QByteArray("ID2\x03\0\0\0\0\0\0", 10),
                                  QByteArray("ID3\x03\0\0\x80\0\0\0", 10), QByteArray("ID3\x03\0\0\0\0\0\x80", 10)})
        EXPECT_FALSE(Id3v2::header(bad)) << bad.toHex().toStdString();
    EXPECT_EQ(Id3v2::synchsafe(0x0000'0102), 130u);
    EXPECT_FALSE(Id3v2::synchsafe(0x0080'0000));
}
