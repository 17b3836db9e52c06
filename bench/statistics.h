// Order statistics of the benchmarks' samples.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace Bench {

// The median: the middle sample, or the mean of the middle two; 0 without samples.
inline double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    size_t n = samples.size();
    if (n == 0) {
        return 0;
    }
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

// The nearest-rank percentile p (0 < p <= 100): the smallest sample that at least p percent of
// the samples do not exceed; 0 without samples.
inline double percentile(std::vector<double> samples, double p) {
    std::sort(samples.begin(), samples.end());
    size_t n = samples.size();
    if (n == 0) {
        return 0;
    }
    size_t rank = static_cast<size_t>(std::ceil(p / 100 * n));
    return samples[std::min(std::max<size_t>(rank, 1), n) - 1];
}

}  // namespace Bench
