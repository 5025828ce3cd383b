#pragma once
// What the built-in synth's streams count as silence, and how long a silence lasts before a
// stream rests so that an idle synth costs the machine nothing.

#include <algorithm>
#include <cmath>
#include <cstddef>

// Below this a sample counts as silence: far under what any sound leaves in 16 bits.
constexpr float kSilentSample = 1.0f / 65536;
constexpr double kRestAfterSilenceSeconds = 3.0;

// Whether `count` samples hold nothing but silence.
inline bool IsSilentBlock(const float* samples, std::size_t count)
{
    return std::none_of(samples, samples + count,
                        [](float sample) { return std::fabs(sample) >= kSilentSample; });
}
