#pragma once
// The one format the benchmark's PipeWire clients play and record: float stereo at a rate.

#include <spa/param/audio/format-utils.h>

#include <cstdint>

// Built into `space`, which must outlive the parameter.
inline const spa_pod* StereoFloatFormat(std::uint8_t (&space)[512], int rate)
{
    spa_audio_info_raw format{};
    format.format = SPA_AUDIO_FORMAT_F32;
    format.rate = std::uint32_t(rate);
    format.channels = 2;
    format.position[0] = SPA_AUDIO_CHANNEL_FL;
    format.position[1] = SPA_AUDIO_CHANNEL_FR;
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(space, sizeof space);
    return spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format);
}
