// The bytes a fresh process reads of a long MP3 whose Info header states its length: to import
// it (the importer's open, its length and tags), and to export it to WAV (the export_file tool,
// the source's reads only: the export also reads back the WAV it wrote). A header that agrees
// with the file should spare the import a pass over the frames and the export a second one.
// Files of each length: CBR 192 kb/s ("Info" header) and VBR quality 2 ("Xing" header), made
// by ffmpeg's libmp3lame; the export's reads are counted by strace where it is installed.
//
//   bench_mp3_import [MINUTES...]     (default: 10 30)

#include "noise_mp3.h"
#include "process_race.h"

#include "core/number_text.h"
#include "import/native_audio.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace tampod;
using namespace tampod::bench;

namespace {

// The child: one import in a process of its own, its reads printed.
int importOnce(const QString &path)
{
    const long long before = bytesRead();
    const bool playable = NativeAudio::open(path, {}).playable;
    const long long after = bytesRead();
    if (!playable || before < 0)
        return 1;
    std::printf("%lld\n", after - before);
    return 0;
}

// Bytes a fresh import of path reads; -1 where it failed.
long long importReads(const QString &path)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--import-once", path});
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return -1;
    bool ok = false;
    const long long bytes = child.readAllStandardOutput().trimmed().toLongLong(&ok);
    return ok ? bytes : -1;
}

// Bytes a fresh export_file process reads of source, by the lines strace writes of its reads
// ("pread64(5</path>, ..., 262144, 0) = 262144"); -1 where it could not be told.
long long exportReads(const QString &strace, const QString &folder, const QString &source)
{
    const QString log = folder + "/strace.log", out = folder + "/export.wav";
    QProcess child;
    child.start(strace, {"-f", "-qq", "-y", "-s", "0", "-e", "trace=read,pread64,readv,preadv,preadv2", "-e",
                         "signal=none", "-o", log, TAMPOD_EXPORT_TOOL, folder + "/store", source, out, "wav", "16"});
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return -1;
    QFile::remove(out);
    std::ifstream lines(log.toStdString());
    const std::string mark = "<" + QFileInfo(source).canonicalFilePath().toStdString() + ">,";
    long long total = 0;
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.rfind(") = ");
        if (line.find(mark) == std::string::npos || equals == std::string::npos)
            continue;
        total += std::max(0LL, std::stoll(line.substr(equals + 4)));
    }
    QFile::remove(log);
    return total;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::string(argv[1]) == "--import-once")
        return importOnce(QString::fromLocal8Bit(argv[2]));
    std::vector<int> minutes;
    for (int i = 1; i < argc; ++i)
        if (const auto n = NumberText::parse(std::string_view(argv[i])))
            minutes.push_back(int(*n));
    if (minutes.empty())
        minutes = {10, 30};
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        say("strace is not installed: the export's reads are not counted");
    QTemporaryDir dir;
    const QString folder = dir.path();
    std::vector<std::string> goals;
    bool failed = false;
    for (const int length : minutes) {
        for (const auto &kind : noiseMp3Kinds) {
            const std::string name = std::to_string(length) + "min-" + kind.name;
            const QString path = folder + "/" + QString::fromStdString(name) + ".mp3";
            if (!encodeNoiseMp3(path, length * 60, kind.options)) {
                say("could not make the MP3 files (ffmpeg with libmp3lame)");
                return 1;
            }
            const double size = double(QFileInfo(path).size());
            const long long imported = importReads(path);
            const long long exported = strace.isEmpty() ? -1 : exportReads(strace, folder, path);
            failed = failed || imported < 0 || (!strace.isEmpty() && exported < 0);
            say(name + ": " + NumberText::whole(int64_t(size)) + " bytes; import reads " +
                NumberText::whole(imported) + " (" + fixed(double(imported) / size, 4) + "x); export reads " +
                (exported < 0 ? std::string("-") : NumberText::whole(exported) + " (" + fixed(double(exported) / size, 3) + "x)"));
            if (length == 10) {
                goals.push_back("GOAL import-bytes-" + name + ": " + std::to_string(imported) + " (target <= 300000)");
                if (exported >= 0 && std::string(kind.name) == "vbr-q2")
                    goals.push_back(goal("fresh-export-reads-" + name, double(exported) / size, 3, "<= 1.15"));
            }
            QFile::remove(path);
        }
    }
    for (const std::string &goal : goals)
        say(goal);
    return failed ? 1 : 0;
}
