// The rules by which an Ogg file's pages may state its length, each met by a file whose pages
// still hold their checksums (changed, then signed again), so that no rule hides behind the
// checksum: whatever the pages say, the length stated is what a decode delivers.
#include "platform_fixtures.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include "core/file_handle.h"
#include "platform/audio_file_error.h"
#include "platform/decode/internal/ogg/ogg_audio_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

using namespace tampod;

namespace {

constexpr char continued = 1, endOfStream = 4;

struct Page {
    QByteArray bytes;

    int segments() const { return uint8_t(bytes[26]); }
    int lace(int i) const { return uint8_t(bytes[27 + i]); }
    char flags() const { return bytes[5]; }
    bool endsPacket() const { return lace(segments() - 1) < 255; }
    int64_t granule() const
    {
        int64_t granule = 0;
        std::memcpy(&granule, bytes.constData() + 6, 8);
        return granule;
    }
    uint32_t sequence() const
    {
        uint32_t sequence = 0;
        std::memcpy(&sequence, bytes.constData() + 18, 4);
        return sequence;
    }

    void setFlags(char flags) { bytes[5] = flags; }
    void setGranule(int64_t granule) { std::memcpy(bytes.data() + 6, &granule, 8); }
    void setSequence(uint32_t sequence) { std::memcpy(bytes.data() + 18, &sequence, 4); }

    // CRC-32, polynomial 0x04C11DB7, not reflected, over the page with its own field as zeros.
    void sign()
    {
        std::memset(bytes.data() + 22, 0, 4);
        uint32_t crc = 0;
        for (const char byte : std::as_const(bytes)) {
            crc ^= uint32_t(uint8_t(byte)) << 24;
            for (int bit = 0; bit < 8; ++bit)
                crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
        std::memcpy(bytes.data() + 22, &crc, 4);
    }
};

std::vector<Page> pagesOf(const QByteArray &ogg)
{
    std::vector<Page> pages;
    for (qsizetype at = 0; at + 27 <= ogg.size();) {
        const int segments = uint8_t(ogg[at + 26]);
        qsizetype size = 27 + segments;
        for (int i = 0; i < segments; ++i)
            size += uint8_t(ogg[at + 27 + i]);
        pages.push_back(Page{ogg.mid(at, size)});
        at += size;
    }
    return pages;
}

QByteArray joined(const std::vector<Page> &pages)
{
    QByteArray all;
    for (const Page &page : pages)
        all += page.bytes;
    return all;
}

// Page at split in two: the first `segments` lacing values and their bytes, then the rest, marked
// as continuing when the first part ends inside a packet. Every later page is numbered on.
void splitPage(std::vector<Page> &pages, size_t at, int segments)
{
    const Page whole = pages[at];
    const QByteArray header = whole.bytes.left(26);
    const int bodyStart = 27 + whole.segments();
    int firstBytes = 0;
    for (int i = 0; i < segments; ++i)
        firstBytes += whole.lace(i);
    Page first{header + char(segments) + whole.bytes.mid(27, segments)
               + whole.bytes.mid(bodyStart, firstBytes)};
    Page second{header + char(whole.segments() - segments)
                + whole.bytes.mid(27 + segments, whole.segments() - segments)
                + whole.bytes.mid(bodyStart + firstBytes)};
    first.setGranule(-1); // no packet ends on it: the split falls inside the page's first packet
    if (!first.endsPacket())
        second.setFlags(char(second.flags() | continued));
    second.setSequence(whole.sequence() + 1);
    first.sign();
    second.sign();
    pages[at] = second;
    pages.insert(pages.begin() + qsizetype(at), first);
    for (size_t i = at + 2; i < pages.size(); ++i) {
        pages[i].setSequence(pages[i].sequence() + 1);
        pages[i].sign();
    }
}

size_t firstAudioPage(const std::vector<Page> &pages)
{
    return size_t(std::find_if(pages.begin() + 1, pages.end(),
                               [](const Page &p) { return p.granule() > 0; })
                  - pages.begin());
}

// The first page after the first audio page that begins a packet of its own and is not the last.
size_t middlePageBeginningAPacket(const std::vector<Page> &pages)
{
    for (size_t i = firstAudioPage(pages) + 1; i + 1 < pages.size(); ++i)
        if (pages[i - 1].endsPacket())
            return i;
    ADD_FAILURE() << "no middle page begins a packet";
    return pages.size() / 2;
}

struct Case {
    const char *name;
    std::function<void(std::vector<Page> &)> change;
    bool pagesState = false; // the pages may state the length
};

// The packet that begins the page at `at`, spread over three pages: its first segment, its
// middle, and its last segment with the rest of the page.
void spread(std::vector<Page> &pages, size_t at)
{
    int packetSegments = 1;
    while (pages[at].lace(packetSegments - 1) == 255)
        ++packetSegments;
    ASSERT_GE(packetSegments, 3) << "the packet spans too few segments to spread it";
    splitPage(pages, at, packetSegments - 1);
    splitPage(pages, at, 1);
}

const Case cases[] = {
    // The demuxer takes the page's first packet for the end of one it never saw, and drops it.
    {"continued mark on a page that begins a packet",
     [](std::vector<Page> &pages) {
         Page &page = pages[middlePageBeginningAPacket(pages)];
         page.setFlags(char(page.flags() | continued));
         page.sign();
     }},
    // Without the end mark the decoder keeps the last packet whole, past the last granule.
    {"no end-of-stream mark on the last page",
     [](std::vector<Page> &pages) {
         pages.back().setFlags(char(pages.back().flags() & ~endOfStream));
         pages.back().sign();
     }},
    // A file cut at a page boundary has no end mark either, and its last granule is its end.
    {"cut after a page in the middle",
     [](std::vector<Page> &pages) { pages.resize(middlePageBeginningAPacket(pages)); }},
    // The first audio page fixes where the stream starts; the pages after it disagree.
    {"first audio page's granule raised",
     [](std::vector<Page> &pages) {
         Page &page = pages[firstAudioPage(pages)];
         page.setGranule(page.granule() + 300);
         page.sign();
     }},
    {"middle page's granule lowered",
     [](std::vector<Page> &pages) {
         Page &page = pages[middlePageBeginningAPacket(pages)];
         page.setGranule(page.granule() - 700);
         page.sign();
     }},
    {"a packet spread over three pages",
     [](std::vector<Page> &pages) { spread(pages, middlePageBeginningAPacket(pages)); }, true},
    // A page lost from inside one packet leaves every granule where it was; only the page
    // numbers tell.
    {"page lost from inside a packet",
     [](std::vector<Page> &pages) {
         const size_t at = middlePageBeginningAPacket(pages);
         spread(pages, at);
         pages.erase(pages.begin() + qsizetype(at) + 1);
     }},
    {"page numbers skip one",
     [](std::vector<Page> &pages) {
         for (size_t i = middlePageBeginningAPacket(pages); i < pages.size(); ++i) {
             pages[i].setSequence(pages[i].sequence() + 1);
             pages[i].sign();
         }
     }},
};

// Independent noise on two channels, 150,000 frames at 44.1 kHz, encoded with options.
void noise(const QString &path, const QStringList &options)
{
    test::runChecked(
        QStringLiteral("ffmpeg"),
        QStringList{"-v", "error", "-y", "-f", "lavfi", "-i",
                    "aevalsrc=random(0)-0.5|random(1)-0.5:s=44100,atrim=end_sample=150000",
                    "-fflags", "+bitexact"}
            + options + QStringList{path});
}

bool statedByPages(const QString &path)
{
    const FileHandle file = FileHandle::openOutside(path);
    return oggaudio::describe(file, 0, file.size()).has_value();
}

} // namespace

TEST(OggPageRules, EveryDamagedButSignedFileStatesWhatItsDecodeDelivers)
{
    test::TempDir dir;
    // Noise at a high rate: packets long enough to span several segments.
    const std::pair<const char *, QStringList> encoders[] = {{".ogg",
                                                              {"-c:a", "libvorbis", "-q:a", "10"}},
                                                             {".opus",
                                                              {"-c:a", "libopus", "-b:a", "320k"}}};
    for (const auto &[extension, options] : encoders) {
        const QString source = dir.file(QStringLiteral("source") + extension);
        noise(source, options);
        const std::vector<Page> plain = pagesOf(test::readAll(source));
        ASSERT_TRUE(statedByPages(source)) << "the plain file's pages state its length";
        for (const Page &page : plain) {
            Page again = page;
            again.sign();
            ASSERT_EQ(again.bytes, page.bytes) << "signed as the encoder signs";
        }
        int index = 0;
        for (const Case &c : cases) {
            const QString path = dir.file(QString::number(index++) + extension);
            SCOPED_TRACE(std::string(extension) + ": " + c.name);
            std::vector<Page> pages = plain;
            c.change(pages);
            if (testing::Test::HasFatalFailure())
                return;
            test::writeFile(path, joined(pages));
            const int64_t decoded = test::ffmpegDecode(path).size() / qsizetype(2 * sizeof(float));
            ASSERT_GT(decoded, 0);
            EXPECT_EQ(statedByPages(path), c.pagesState);
            try {
                for (const auto use :
                     {AudioFileReader::Use::reading, AudioFileReader::Use::glance}) {
                    AudioFileReader reader(path, {}, use);
                    EXPECT_EQ(reader.length(), decoded);
                    EXPECT_EQ(int64_t(test::readAllFloat(reader).size()) / reader.channels(),
                              decoded);
                }
            } catch (const AudioFileError &error) {
                ADD_FAILURE() << error.message().toStdString();
            }
        }
    }
}
