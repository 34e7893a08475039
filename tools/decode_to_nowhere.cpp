// Developer tool: decodes an audio file to nowhere, as float, block by block and as fast as it
// goes (as an overview, an analysis or an export reads a file), and prints the number of frames. The decode benchmark times this whole process against
// `ffmpeg -i FILE -f null -`, so start-up counts on both sides. With a start and a duration in
// seconds it seeks first and decodes only that much, as a player starting mid-file does.
//
//   decode_to_nowhere FILE [START DURATION]

#include "platform/decode/audio_file_reader.h"

#include "core/error.h"
#include "core/number_text.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

using namespace tampod;

int main(int argc, char **argv)
{
    bool startOk = true, durationOk = true;
    const double start = argc == 4 ? QString::fromLocal8Bit(argv[2]).toDouble(&startOk) : 0;
    const double duration = argc == 4 ? QString::fromLocal8Bit(argv[3]).toDouble(&durationOk) : 0;
    if ((argc != 2 && argc != 4) || !startOk || !durationOk || !(start >= 0 && start < 1e7)
        || !(duration >= 0 && duration < 1e7)) {
        std::fputs("usage: decode_to_nowhere FILE [START DURATION]\n", stderr);
        return 2;
    }
    try {
        AudioFileReader reader(QString::fromLocal8Bit(argv[1]));
        constexpr int64_t block = AudioFileReader::defaultBlockFrames;
        std::vector<float> buffer(static_cast<size_t>(block * reader.channels()));
        int64_t frames = 0;
        int64_t wanted = INT64_MAX;
        if (argc == 4) {
            reader.seek(int64_t(start * reader.fileSampleRate()));
            wanted = int64_t(duration * reader.fileSampleRate());
        }
        for (int64_t n; frames < wanted;) {
            n = reader.readFloatInterleaved(buffer.data(), std::min(block, wanted - frames));
            if (n == 0)
                break;
            frames += n;
        }
        std::fputs((NumberText::whole(frames) + "\n").c_str(), stdout);
    } catch (...) {
        std::fputs((errorText(std::current_exception()).toLocal8Bit() + "\n").constData(), stderr);
        return 1;
    }
    return 0;
}
