#include "core/byte_reader.h"
#include "core/error.h"
#include "core/file_handle.h"

#include "support/file_fixtures.h"

#include <fcntl.h>
#include <gtest/gtest.h>

using namespace tampod;

TEST(ByteReader, ReadsBothByteOrdersAndStopsAtTheEnd)
{
    const QByteArray bytes("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
    ByteReader reader(bytes);
    EXPECT_EQ(reader.u16be(), 0x0102);
    EXPECT_EQ(reader.u16le(), 0x0403);
    EXPECT_EQ(reader.u32be(), 0x05060708u);
    EXPECT_THROW(reader.u8(), MalformedData);
    EXPECT_EQ(reader.position(), 8u);

    ByteReader other(bytes);
    EXPECT_EQ(other.u64le(), 0x0807060504030201ull);
    EXPECT_EQ(other.u32leAt(4), 0x08070605u);
    EXPECT_THROW(other.u32beAt(5), MalformedData);
    EXPECT_THROW(other.bytesAt(SIZE_MAX - 1, 4), MalformedData);
    EXPECT_FALSE(other.contains(4, UINT64_MAX));
    EXPECT_THROW(other.seek(9), MalformedData);
}

// Compared with written-out bytes: a writer and reader wrong in the same way must not pass.
TEST(ByteWriter, WritesEachWidthInItsByteOrder)
{
    EXPECT_EQ(ByteWriter().u8(1).u32be(0xdeadbeef).u16le(0x1234).f32le(120.0f).u64be(1).u64le(2).zeros(2).take(),
              QByteArray::fromHex("01 deadbeef 3412 0000f042 0000000000000001 0200000000000000 0000"));
}

TEST(FileHandle, ReadsWritesAndReportsErrors)
{
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("f.bin"));
    {
        auto file = FileHandle::open(path, O_CREAT | O_EXCL | O_WRONLY, 0600);
        file.writeAll("hello world");
        file.append("!");
        file.pwriteAll(0, "J");
        file.sync();
        file.close();
    }
    EXPECT_THROW(FileHandle::open(path, O_CREAT | O_EXCL | O_WRONLY), SystemError);

    auto file = FileHandle::openForReading(path);
    EXPECT_EQ(file.size(), 12);
    EXPECT_EQ(file.readUpTo(5), "Jello");
    EXPECT_EQ(file.readUpTo(100), " world!");
    EXPECT_EQ(file.readUpTo(100), "");
    EXPECT_EQ(file.preadExactly(6, 5), "world");
    EXPECT_THROW(file.preadExactly(10, 5), MalformedData);
    // A hostile length from a header does not allocate it.
    EXPECT_EQ(file.preadUpTo(0, qint64(1) << 40).size(), 12);

    EXPECT_EQ(test::posixCode([&] { FileHandle::openForReading(dir.file(QStringLiteral("missing"))); }), ENOENT);
}
