// Built into every test executable that links the audio output. Tests need no sound device, and
// none may wait on a system audio library, which can block for good: each test process finds
// the null output. Tests of the device probe set their own.

#include "platform/output/audio_output.h"
#include "platform/output/null_audio_output.h"

namespace {

const bool nullAudioProbe = [] {
    tampod::AudioOutput::setProbe([] { return std::make_shared<tampod::NullAudioOutput>(); });
    return true;
}();

} // namespace
