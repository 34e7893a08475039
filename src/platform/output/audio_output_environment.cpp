// The one place the program changes its environment; main calls it before any thread starts.
#include "platform/output/audio_output.h"

#include <stdlib.h>

namespace tampod {

void AudioOutput::prepareProcess()
{
    // Probing a device must never launch a sound server as a side effect. JACK reads this
    // each time a client opens.
    setenv("JACK_NO_START_SERVER", "1", 1);
}

} // namespace tampod
