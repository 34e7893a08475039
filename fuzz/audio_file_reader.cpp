// Opens and reads mutated audio files: every outcome must be a clean read or a typed error,
// with no read delivering more than it was asked for.
#include "core/error.h"
#include "platform/decode/audio_file_probe.h"
#include "platform/decode/audio_file_reader.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace tampod;

namespace {

constexpr int64_t block = 4096;
constexpr int64_t maximumFrames = 1 << 21; // bounds the work per input
constexpr float canary = -12345.0f;
constexpr int32_t intCanary = 0x5eed1e55;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void readSome(AudioFileReader &reader, int64_t budget)
{
    const int channels = reader.channels();
    check(channels >= 1);
    std::vector<float> buffer(size_t((block + 1) * channels));
    std::vector<int32_t> ints(size_t((block + 1) * channels));
    int64_t total = 0;
    for (int round = 0; total < budget; ++round) {
        const int64_t ask = 1 + (round * 977) % block;
        // The sample just past what is asked must stay untouched.
        const size_t fence = size_t(ask * channels);
        buffer[fence] = canary;
        ints[fence] = intCanary;
        const int64_t n = round % 3 == 2 ? reader.readInt32Interleaved(ints.data(), ask)
                                         : reader.readFloatInterleaved(buffer.data(), ask);
        check(n >= 0 && n <= ask);
        check(buffer[fence] == canary && ints[fence] == intCanary);
        if (n == 0)
            break;
        total += n;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const int fd = memfd_create("fuzz-audio", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (write(fd, data, size) != ssize_t(size)) {
        close(fd);
        return 0;
    }
    const QString path = QStringLiteral("/proc/self/fd/") + QString::number(fd);
    (void)AudioFileProbe::probe(path);
    try {
        AudioFileReader reader(path);
        const int64_t length = reader.length();
        check(length >= 0);
        readSome(reader, maximumFrames);
        // Far in, back, and near the end: in a long enough Ogg file, seeks by its pages.
        for (const int64_t frame : {length / 2, length * 9 / 10, length / 5, length - 1}) {
            reader.seek(frame);
            readSome(reader, block * 2);
        }
    } catch (const Error &) {
    }
    close(fd);
    return 0;
}
