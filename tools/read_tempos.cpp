// Developer tool: reads the stored tempo of each file as the importer does and prints one line
// per file, the tempo's precise text or "-" where none was found. The tags benchmark times this
// whole process against exiftool over the same files.
//
//   read_tempos FILE...

#include "import/tempo_metadata.h"
#include "tags/tempo_model.h"

#include <QByteArray>

#include <cstdio>

using namespace tampod;

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs("usage: read_tempos FILE...\n", stderr);
        return 2;
    }
    QByteArray out;
    for (int i = 1; i < argc; ++i) {
        const auto tempo = TempoMetadata::read(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i])));
        out += tempo ? TempoModel::preciseText(*tempo).toUtf8() : QByteArray("-");
        out += '\n';
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return 0;
}
