#include "sound/output_limiter.h"

#include <algorithm>
#include <cmath>

namespace {

double FromDbfs(double dbfs) { return std::pow(10.0, dbfs / 20.0); }

const double kKnee = FromDbfs(OutputLimiter::kKneeDbfs);
// A hair below the ceiling, so that rounding a sample to float never reaches it.
const double kCeiling = FromDbfs(OutputLimiter::kCeilingDbfs - 0.01);

} // namespace

OutputLimiter::OutputLimiter(double sampleRate)
    : m_releaseStep(1.0 - std::exp(-1.0 / (kReleaseSeconds * sampleRate)))
{
}

// Above the knee the level approaches the ceiling exponentially, leaving the knee with the
// slope 1 it had below it, so there is no corner to hear.
double OutputLimiter::Curve(double peak)
{
    if (peak <= kKnee)
        return peak;
    const double room = kCeiling - kKnee;
    return kKnee + room * (1.0 - std::exp(-(peak - kKnee) / room));
}

void OutputLimiter::Process(float* left, float* right, int frames, int stride)
{
    for (int i = 0; i < frames; ++i) {
        float& l = left[i * stride];
        float& r = right[i * stride];
        const double peak = std::max(std::fabs(l), std::fabs(r));
        const double wanted = peak > kKnee ? Curve(peak) / peak : 1.0;
        if (wanted < m_gain)
            m_gain = wanted;
        else
            m_gain += (wanted - m_gain) * m_releaseStep;
        l = float(l * m_gain);
        r = float(r * m_gain);
    }
}
