#pragma once

// The MP3 benchmarks' music: stereo noise pulsing twice a second, so that frames differ in size
// at a variable rate, encoded by ffmpeg at the rate options given ("-b:a 192k", "-q:a 2").

#include <QProcess>
#include <QString>
#include <QStringList>

namespace tampod::bench {

// The two encodings the MP3 benchmarks measure: constant 192 kb/s (an "Info" header) and
// variable quality 2 (a "Xing" header).
struct NoiseMp3Kind {
    const char *name;
    QStringList options;
};
inline const NoiseMp3Kind noiseMp3Kinds[] = {{"cbr192", {"-b:a", "192k"}}, {"vbr-q2", {"-q:a", "2"}}};

inline bool encodeNoiseMp3(const QString &path, int seconds, const QStringList &rate)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y", "-f", "lavfi", "-i",
                                                       QStringLiteral("anoisesrc=r=44100:a=0.2:d=%1").arg(seconds),
                                                       "-af", "apulsator=hz=2", "-ac", "2", "-c:a", "libmp3lame"}
                                               + rate + QStringList{path});
    return ffmpeg.waitForFinished(-1) && ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0;
}

} // namespace tampod::bench
