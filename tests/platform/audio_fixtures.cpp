#include "audio_fixtures.h"

#include <QProcess>

#include <cstring>
#include <stdexcept>

namespace tampod::test {

QString runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        throw std::runtime_error((program + QStringLiteral(" failed: ")
                                  + QString::fromLocal8Bit(process.readAllStandardError()))
                                     .toStdString());
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

void makeTone(const QString &path, qint64 frames, const QStringList &extra, int rate, int channels)
{
    const QString expression = channels == 1
                                   ? QStringLiteral("0.5*sin(2*PI*440*t)")
                                   : QStringLiteral("0.5*sin(2*PI*440*t)|0.25*sin(2*PI*660*t)");
    QStringList arguments{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                          QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                          QStringLiteral("aevalsrc=%1:s=%2,atrim=end_sample=%3")
                              .arg(expression)
                              .arg(rate)
                              .arg(frames)};
    arguments << extra << path;
    runTool(QStringLiteral("ffmpeg"), arguments);
}

std::vector<float> readAllFloat(AudioFileReader &reader, qint64 block)
{
    std::vector<float> all;
    std::vector<float> buffer(size_t(block * reader.channels()));
    for (;;) {
        const qint64 n = reader.readFloatInterleaved(buffer.data(), block);
        if (n == 0)
            break;
        all.insert(all.end(), buffer.begin(), buffer.begin() + n * reader.channels());
    }
    return all;
}

std::vector<float> ffmpegDecode(const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                   QStringLiteral("-f"), QStringLiteral("f32le"), QStringLiteral("-")});
    process.waitForFinished(120000);
    const QByteArray bytes = process.readAllStandardOutput();
    std::vector<float> samples(size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}

} // namespace tampod::test
