#pragma once
// Order statistics of measured samples, for benchmarks that report a distribution rather than
// a mean.

#include <algorithm>
#include <cmath>
#include <vector>

// The sample below which `fraction` of the samples lie (nearest rank); 0 for no samples.
inline double Percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty())
        return 0;
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(samples.size())));
    const std::size_t index = std::clamp<std::size_t>(rank, 1, samples.size()) - 1;
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(index), samples.end());
    return samples[index];
}
