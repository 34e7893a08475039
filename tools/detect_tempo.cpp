// Developer tool: estimates the tempo of one file by beat detection, as the library's Get button
// does, and prints it with three decimals, or "-" when none was found. The tempo benchmark
// starts this whole process once per file, as it starts the other detectors.
//
//   detect_tempo FILE

#include "bpm/bpm_analysis_service.h"

#include <QCoreApplication>
#include <QUrl>
#include <QUuid>

#include <cstdio>
#include <exception>
#include <optional>

using namespace tampod;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: detect_tempo FILE\n", stderr);
        return 2;
    }
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])));
    std::optional<double> tempo;
    try {
        tempo = BPMAnalysisService::shared()->detect(track, {}, {}).wait();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "detect_tempo: %s\n", error.what());
    }
    if (tempo)
        std::printf("%.3f\n", *tempo);
    else
        std::puts("-");
    return 0;
}
