#pragma once

// Source files made once per suite by installed programs, copied fresh into each test, and the
// mutagen script that adds ID3 tempo frames to them.
#include "support/run_program.h"
#include "support/test_support.h"

#include <QFile>

#include <gtest/gtest.h>

namespace tampod::test {

class MadeFiles : public ::testing::Test {
protected:
    static void TearDownTestSuite()
    {
        delete sources;
        sources = nullptr;
    }
    // Makes a source file with ffmpeg: its input options, then the output options.
    static void make(const QString &name, const QStringList &input, const QStringList &output = {})
    {
        if (!sources)
            sources = new TempDir;
        runChecked(QStringLiteral("ffmpeg"), QStringList{"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i"}
                                                 + input + output + QStringList{sources->file(name)});
    }
    // A writable copy of a source file, replacing an earlier copy of the same name.
    QString copy(const QString &name, const QString &as = {})
    {
        const QString path = dir.file(as.isEmpty() ? name : as);
        QFile::remove(path);
        EXPECT_TRUE(QFile::copy(sources->file(name), path));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }

    static inline TempDir *sources = nullptr;
    TempDir dir;
};

// Arguments: path, kind (wav, aiff or mp3), ID3 version, text encoding, then the TBPM and the
// "tamPOD_BPM" TXXX texts, either left out when empty.
inline const char *mutagenId3 = R"(
import sys
from mutagen.id3 import ID3, TBPM, TXXX
from mutagen.wave import WAVE
from mutagen.aiff import AIFF
path, kind, version, encoding, standard, precise = sys.argv[1:]
if kind == 'mp3':
    tags, save = ID3(path), None
else:
    f = WAVE(path) if kind == 'wav' else AIFF(path)
    if f.tags is None:
        f.add_tags()
    tags = f.tags
if standard:
    tags.add(TBPM(encoding=int(encoding), text=[standard]))
if precise:
    tags.add(TXXX(encoding=int(encoding), desc='tamPOD_BPM', text=[precise]))
if kind == 'mp3':
    tags.save(path, v2_version=int(version))
else:
    f.save(v2_version=int(version))
)";

} // namespace tampod::test
