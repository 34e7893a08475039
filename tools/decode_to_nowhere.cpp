// Developer tool: decodes an audio file to nowhere, as float, block by block and as fast as it
// goes (as an overview, an analysis or an export reads a file), and prints the number of frames. The decode benchmark times this whole process against
// `ffmpeg -i FILE -f null -`, so start-up counts on both sides.
//
//   decode_to_nowhere FILE

#include "platform/decode/audio_file_reader.h"

#include "core/error.h"
#include "core/number_text.h"

#include <cstdio>
#include <vector>

using namespace tampod;

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: decode_to_nowhere FILE\n", stderr);
        return 2;
    }
    try {
        AudioFileReader reader(QString::fromLocal8Bit(argv[1]));
        constexpr int64_t block = AudioFileReader::defaultBlockFrames;
        std::vector<float> buffer(static_cast<size_t>(block * reader.channels()));
        int64_t frames = 0;
        for (int64_t n; (n = reader.readFloatInterleaved(buffer.data(), block)) > 0;)
            frames += n;
        std::fputs((NumberText::whole(frames) + "\n").c_str(), stdout);
    } catch (...) {
        std::fputs((errorText(std::current_exception()).toLocal8Bit() + "\n").constData(), stderr);
        return 1;
    }
    return 0;
}
