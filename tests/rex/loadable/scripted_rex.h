#pragma once

// A stand-in for the REX decoder library, built only into the test tree. It exports the
// library's entry points and is scripted by the bytes of the file it is given: a header that
// says what information to report, which entry point returns which result code, and where a
// sample goes bad. Tests watch what it was asked through scriptedREXObservation().

#include <cstdint>
#include <cstring>
#include <string>

namespace scripted_rex {

inline constexpr char magic[8] = {'T', 'P', 'R', 'X', 'S', 'C', 'R', '1'};

// The entry points a script can make fail.
enum class Step : std::int32_t {
    none,
    getInfoFromBuffer,
    create,
    getInfo,
    setOutputSampleRate,
    setPreviewTempo,
    startPreview,
    renderPreviewBatch,
};

// The header at the start of a scripted file; what follows it is ignored. Little-endian.
struct Script {
    char magic[8];
    std::int32_t bufferInfo[9];  // what REXGetInfoFromBuffer reports
    std::int32_t handleInfo[9];  // what REXGetInfo reports
    std::int32_t failStep;       // a Step
    std::int32_t failCode;       // the result that step returns
    std::int32_t failBatch;      // for renderPreviewBatch: the batch (from 0) that fails
    std::int32_t nonFiniteFrame; // the frame whose last channel is NaN (odd frames: +inf); -1 none
    std::int32_t nullHandle;     // 1: REXCreate succeeds without making a handle
};

// The nine words of a loop: channels, rate, slices, saved tempo, original tempo (1/1000 BPM),
// length in 1/15,360 quarter notes, two unused words, bit depth.
inline Script loop(int channels, int rate, int tempo, int ppqLength, int bitDepth = 16)
{
    Script script{};
    std::memcpy(script.magic, magic, sizeof magic);
    const std::int32_t words[9] = {channels, rate, 8, tempo, tempo, ppqLength, 0, 0, bitDepth};
    std::memcpy(script.bufferInfo, words, sizeof words);
    std::memcpy(script.handleInfo, words, sizeof words);
    script.nonFiniteFrame = -1;
    return script;
}

inline std::string bytes(const Script &script, std::size_t padding = 0)
{
    std::string out(reinterpret_cast<const char *>(&script), sizeof script);
    out.append(padding, '\0');
    return out;
}

// The sample the library renders at a frame of the preview, per channel: a ramp that any
// slip of a frame, a batch or a channel would break.
inline float sample(std::int64_t frame, int channel)
{
    const float value = float(frame % 2000 - 1000) / 1024.0f;
    return channel == 0 ? value : -value;
}

// What the library was asked, since the last reset.
struct Observation {
    int initialized;
    int uninitialized;
    int created;
    int deleted;
    int outputRate;
    int previewTempo;
    int batches;
    int batchFrames[64];
    int progressAnswers[4]; // what the progress callback returned at 0, 50 and 100 percent
    char calls[1024];       // the entry points called, in order, separated by spaces
};

} // namespace scripted_rex

extern "C" {
// Forgets what was observed, the hook and the initialise result (back to 1).
void scriptedREXReset();
const scripted_rex::Observation *scriptedREXObservation();
// The result REXInitializeDLL returns from now on.
void scriptedREXSetInitializeResult(std::int32_t result);
// Called at the start of every entry point with its name and, for a render, the batch number.
void scriptedREXSetHook(void (*hook)(const char *call, int batch, void *context), void *context);
}
