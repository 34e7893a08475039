// The scripted stand-in for the REX decoder library (see scripted_rex.h).

#include "scripted_rex.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

using namespace scripted_rex;

namespace {

using Progress = std::int32_t (*)(std::int32_t, void *);

constexpr std::int32_t ok = 1;
constexpr std::int32_t damaged = 106;
constexpr std::int32_t badArgument = 100;

Observation observed{};
std::int32_t initializeResult = ok;
void (*hook)(const char *, int, void *) = nullptr;
void *hookContext = nullptr;

struct Loop {
    Script script;
    std::int64_t position = 0;
    bool previewing = false;
};

void called(const char *name, int batch = -1)
{
    const std::size_t used = std::strlen(observed.calls);
    if (used + std::strlen(name) + 2 < sizeof observed.calls) {
        if (used)
            std::strcat(observed.calls, " ");
        std::strcat(observed.calls, name);
    }
    if (hook)
        hook(name, batch, hookContext);
}

bool read(const char *buffer, std::int32_t size, Script &script)
{
    if (!buffer || size < std::int32_t(sizeof script))
        return false;
    std::memcpy(&script, buffer, sizeof script);
    return std::memcmp(script.magic, magic, sizeof magic) == 0;
}

bool fails(const Script &script, Step step)
{
    return script.failStep == std::int32_t(step);
}

std::int32_t info(const std::int32_t *words, std::int32_t size, std::int32_t *out)
{
    if (size != 36 || !out)
        return badArgument;
    std::memcpy(out, words, 36);
    return ok;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) void scriptedREXReset()
{
    observed = Observation{};
    initializeResult = ok;
    hook = nullptr;
    hookContext = nullptr;
}

__attribute__((visibility("default"))) const Observation *scriptedREXObservation()
{
    return &observed;
}

__attribute__((visibility("default"))) void scriptedREXSetInitializeResult(std::int32_t result)
{
    initializeResult = result;
}

__attribute__((visibility("default"))) void scriptedREXSetHook(void (*function)(const char *, int, void *),
                                                               void *context)
{
    hook = function;
    hookContext = context;
}

__attribute__((visibility("default"))) std::int32_t REXInitializeDLL()
{
    called("Initialize");
    observed.initialized += initializeResult == ok;
    return initializeResult;
}

__attribute__((visibility("default"))) std::int32_t REXUninitializeDLL()
{
    called("Uninitialize");
    ++observed.uninitialized;
    return ok;
}

__attribute__((visibility("default"))) std::int32_t REXGetInfoFromBuffer(std::int32_t size, const char *buffer,
                                                                         std::int32_t infoSize, std::int32_t *words)
{
    called("GetInfoFromBuffer");
    Script script;
    if (!read(buffer, size, script))
        return damaged;
    if (fails(script, Step::getInfoFromBuffer))
        return script.failCode;
    return info(script.bufferInfo, infoSize, words);
}

__attribute__((visibility("default"))) std::int32_t REXCreate(void **handle, const char *buffer, std::int32_t size,
                                                              Progress progress, void *user)
{
    called("Create");
    Script script;
    if (!handle || !read(buffer, size, script))
        return damaged;
    const std::int32_t percents[3] = {0, 50, 100};
    for (int i = 0; i < 3; ++i) {
        observed.progressAnswers[i] = progress ? progress(percents[i], user) : 0;
        if (observed.progressAnswers[i] == 1)
            return 2;
    }
    if (fails(script, Step::create))
        return script.failCode;
    if (script.nullHandle == 1)
        return ok;
    *handle = new Loop{script};
    ++observed.created;
    return ok;
}

__attribute__((visibility("default"))) std::int32_t REXDelete(void **handle)
{
    called("Delete");
    if (handle && *handle) {
        delete static_cast<Loop *>(*handle);
        *handle = nullptr;
        ++observed.deleted;
    }
    return ok;
}

__attribute__((visibility("default"))) std::int32_t REXGetInfo(void *handle, std::int32_t infoSize, std::int32_t *words)
{
    called("GetInfo");
    const auto *loop = static_cast<Loop *>(handle);
    if (!loop)
        return badArgument;
    if (fails(loop->script, Step::getInfo))
        return loop->script.failCode;
    return info(loop->script.handleInfo, infoSize, words);
}

__attribute__((visibility("default"))) std::int32_t REXSetOutputSampleRate(void *handle, std::int32_t rate)
{
    called("SetOutputSampleRate");
    const auto *loop = static_cast<Loop *>(handle);
    if (!loop)
        return badArgument;
    observed.outputRate = rate;
    return fails(loop->script, Step::setOutputSampleRate) ? loop->script.failCode : ok;
}

__attribute__((visibility("default"))) std::int32_t REXSetPreviewTempo(void *handle, std::int32_t tempo)
{
    called("SetPreviewTempo");
    const auto *loop = static_cast<Loop *>(handle);
    if (!loop)
        return badArgument;
    observed.previewTempo = tempo;
    return fails(loop->script, Step::setPreviewTempo) ? loop->script.failCode : ok;
}

__attribute__((visibility("default"))) std::int32_t REXStartPreview(void *handle)
{
    called("StartPreview");
    auto *loop = static_cast<Loop *>(handle);
    if (!loop)
        return badArgument;
    if (fails(loop->script, Step::startPreview))
        return loop->script.failCode;
    loop->position = 0;
    loop->previewing = true;
    return ok;
}

__attribute__((visibility("default"))) std::int32_t REXStopPreview(void *handle)
{
    called("StopPreview");
    if (auto *loop = static_cast<Loop *>(handle))
        loop->previewing = false;
    return ok;
}

#ifndef SCRIPTED_REX_WITHOUT_RENDER
__attribute__((visibility("default"))) std::int32_t REXRenderPreviewBatch(void *handle, std::int32_t frames,
                                                                          float **outputs)
{
    const int batch = observed.batches;
    called("Render", batch);
    auto *loop = static_cast<Loop *>(handle);
    if (!loop || !loop->previewing || !outputs || !outputs[0] || frames < 0 || frames > 8192)
        return badArgument;
    const int channels = loop->script.bufferInfo[0];
    if ((channels == 2) != (outputs[1] != nullptr))
        return badArgument;
    if (batch < 64)
        observed.batchFrames[batch] = frames;
    ++observed.batches;
    if (fails(loop->script, Step::renderPreviewBatch) && loop->script.failBatch == batch)
        return loop->script.failCode;
    for (int channel = 0; channel < channels; ++channel) {
        for (int i = 0; i < frames; ++i) {
            const std::int64_t frame = loop->position + i;
            float value = sample(frame, channel);
            if (frame == loop->script.nonFiniteFrame && channel == channels - 1)
                value = frame % 2 ? std::numeric_limits<float>::infinity() : std::nanf("");
            outputs[channel][i] = value;
        }
    }
    loop->position += frames;
    return ok;
}
#endif

} // extern "C"
