// Cost of reading a record's source location, the question the main thread asks for every
// track at each import: an unchanged file, a file renamed in its folder (found again and
// re-confirmed), and the plain stat() of the same files as the floor to compare with.
#include "files/access/source_file_access.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <vector>

using namespace tampod;

namespace {

template <typename Fn>
double microsecondsPerCall(int calls, Fn &&fn)
{
    const auto start = std::chrono::steady_clock::now();
    fn();
    const std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / calls;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    constexpr int files = 2000;
    constexpr int rounds = 5;
    QTemporaryDir dir;
    std::vector<std::shared_ptr<SourceFileAccess>> sources;
    std::vector<QString> paths;
    for (int i = 0; i < files; ++i) {
        const QString path = dir.filePath(QStringLiteral("take-%1.wav").arg(i));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write("RIFF") != 4)
            return 1;
        file.close();
        paths.push_back(path);
        sources.push_back(SourceFileAccess::make(QUrl::fromLocalFile(path)));
    }

    const double floor = microsecondsPerCall(files * rounds, [&] {
        struct stat st {};
        for (int r = 0; r < rounds; ++r) {
            for (const QString &path : paths)
                ::stat(QFile::encodeName(path).constData(), &st);
        }
    });
    const double unchanged = microsecondsPerCall(files * rounds, [&] {
        for (int r = 0; r < rounds; ++r) {
            for (const auto &source : sources)
                source->url();
        }
    });
    for (int i = 0; i < files; ++i)
        QFile::rename(paths[i], paths[i] + QStringLiteral(".moved"));
    const double renamed = microsecondsPerCall(files, [&] {
        for (const auto &source : sources)
            source->url();
    });
    const double afterRename = microsecondsPerCall(files * rounds, [&] {
        for (int r = 0; r < rounds; ++r) {
            for (const auto &source : sources)
                source->url();
        }
    });

    std::printf("files in one folder            %d\n", files);
    std::printf("stat() alone                   %8.2f us per call\n", floor);
    std::printf("url(), unchanged file          %8.2f us per call (%.1fx stat)\n", unchanged, unchanged / floor);
    std::printf("url(), first read after rename %8.2f us per call (folder scan, bookmark rewritten)\n", renamed);
    std::printf("url(), later reads             %8.2f us per call\n", afterRename);
    return 0;
}
