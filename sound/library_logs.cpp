#include "sound/library_logs.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>
#include <jack/jack.h>

#include <mutex>

namespace {

void IgnoreFluidMessage(int, const char*, void*) {}
void IgnoreJackMessage(const char*) {}
void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

} // namespace

void SilenceSoundLibraryLogs()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level = 0; level < LAST_LOG_LEVEL; ++level)
            fluid_set_log_function(level, IgnoreFluidMessage, nullptr);
        jack_set_error_function(IgnoreJackMessage);
        jack_set_info_function(IgnoreJackMessage);
        snd_lib_error_set_handler(IgnoreAlsaMessage);
    });
}
