// Tempo tags exchanged with independent programs: files tagged by mutagen and eyeD3 read back
// the right tempo, and files tagged here read right in mutagen and exiftool.
#include "tags/container_tempo_reader.h"
#include "tags/export_tempo_writer.h"
#include "tags/mp3_tempo_metadata.h"
#include "tags/tempo_model.h"
#include "tags/wav_tempo_reader.h"
#include "made_files.h"

#include <gtest/gtest.h>

using namespace tampod;
using test::mutagenId3;
using test::runChecked;
using test::systemPython;

namespace {

// Prints the TBPM text and the "tamPOD_BPM" TXXX text that mutagen finds, one per line.
const char *mutagenRead = R"(
import sys
from mutagen.wave import WAVE
from mutagen.aiff import AIFF
path, kind = sys.argv[1:]
f = WAVE(path) if kind == 'wav' else AIFF(path)
print(f.tags['TBPM'].text[0])
print(f.tags['TXXX:tamPOD_BPM'].text[0])
)";

class Interoperability : public test::MadeFiles {
protected:
    static void SetUpTestSuite()
    {
        for (const char *kind : {"wav", "aiff", "mp3"})
            make(QStringLiteral("file.") + kind, {"anullsrc=r=44100:cl=mono", "-t", "0.2", "-map_metadata", "-1", "-fflags", "+bitexact"});
    }
};

} // namespace

TEST_F(Interoperability, TagsWrittenByMutagenReadBack)
{
    struct Case {
        const char *version, *encoding;
    };
    // ID3v2.3 has no UTF-8: mutagen writes those frames as UTF-16 with a byte-order mark on
    // every string.
    for (const Case c : {Case{"3", "0"}, Case{"3", "1"}, Case{"3", "3"}, Case{"4", "0"}, Case{"4", "1"},
                         Case{"4", "2"}, Case{"4", "3"}}) {
        const std::string where = std::string("v2.") + c.version + " encoding " + c.encoding;
        for (const QString kind : {"wav", "aiff", "mp3"}) {
            const QString path = copy("file." + kind);
            runChecked(systemPython, {"-c", mutagenId3, path, kind, c.version, c.encoding, "120", "120.4"});
            const auto tempo = kind == u"mp3" ? MP3TempoMetadata::read(path)
                                              : ContainerTempoReader::read(path, true);
            EXPECT_EQ(tempo, 120.4) << where << " " << kind.toStdString();
        }
    }
    const QString wav = copy("file.wav");
    runChecked(systemPython, {"-c", mutagenId3, wav, "wav", "3", "1", "128", ""});
    EXPECT_EQ(ContainerTempoReader::read(wav, false), 128.0);
    EXPECT_FALSE(ContainerTempoReader::read(wav, true));
    const QString mp3 = copy("file.mp3");
    runChecked(systemPython, {"-c", mutagenId3, mp3, "mp3", "4", "3", "121", "120.4"});
    EXPECT_EQ(MP3TempoMetadata::read(mp3), 121.0) << "disagreeing values";
}

TEST_F(Interoperability, TagsWrittenByEyeD3ReadBack)
{
    for (const char *version : {"--to-v2.3", "--to-v2.4"}) {
        for (const char *encoding : {"latin1", "utf16", "utf16-be", "utf8"}) {
            if (QByteArray(version) == "--to-v2.3" && QByteArray(encoding) != "latin1"
                && QByteArray(encoding) != "utf16")
                continue; // ID3v2.3 knows only these two
            const QString path = copy("file.mp3");
            runChecked(QStringLiteral("eyeD3"), {"--quiet", version, "--encoding", encoding, "--bpm", "98",
                                          "--user-text-frame", "tamPOD_BPM:98.25", path});
            EXPECT_EQ(MP3TempoMetadata::read(path), 98.25) << version << " " << encoding;
        }
    }
    const QString path = copy("file.mp3");
    runChecked(QStringLiteral("eyeD3"), {"--quiet", "--to-v2.3", "--bpm", "128", path});
    EXPECT_EQ(MP3TempoMetadata::read(path), 128.0);
}

TEST_F(Interoperability, OurTagsReadInMutagenAndExiftool)
{
    for (double bpm : {120.0, 120.5, 120.51, 123.457, 98.25}) {
        for (const QString kind : {"wav", "aiff"}) {
            const QString path = copy("file." + kind);
            ExportTempoWriter::write(bpm, path,
                                     kind == u"wav" ? ExportTempoWriter::Container::wav
                                                    : ExportTempoWriter::Container::aiff);
            const QString whole = TempoModel::wholeText(bpm), precise = TempoModel::preciseText(bpm);
            EXPECT_EQ(runChecked(systemPython, {"-c", mutagenRead, path, kind}), (whole + u'\n' + precise).toUtf8()) << bpm;
            EXPECT_EQ(runChecked(QStringLiteral("exiftool"), {"-s3", "-BeatsPerMinute", "-UserDefinedText", path}),
                      (whole + QStringLiteral("\n(tamPOD_BPM) ") + precise).toUtf8())
                << bpm;
            if (kind == u"wav") {
                EXPECT_EQ(WAVTempoReader::read(path, false), static_cast<double>(static_cast<float>(bpm)));
            }
            // The file is still audio that an independent decoder reads to the end.
            runChecked(QStringLiteral("ffmpeg"), {"-hide_banner", "-loglevel", "error", "-xerror", "-i", path, "-f", "null", "-"});
        }
    }
}
