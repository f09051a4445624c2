#include "LogMelPipeline.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <exception>
#include <limits>
#include <thread>
#include <vector>

#include "BandEnergyKernel.h"

namespace corvanta::extensions::veyra::detail {

namespace {

constexpr float kEnergyFloor = 1e-10f;     // keeps silence out of log10(0)
constexpr float kDynamicRangeDecades = 8.0f;

BandEnergyKernel kernelFor(KernelIsa isa) {
    switch (isa) {
#if defined(VEYRA_X86_KERNELS)
        case KernelIsa::Avx512:
            return avx512BandEnergyKernel();
        case KernelIsa::Avx2:
            return avx2BandEnergyKernel();
#endif
        default:
            return plainBandEnergyKernel();
    }
}

// Replaces the band energies of one frame range by their base-10 logarithms
// and answers the largest of them.
float takeLogarithms(float* features, int firstFrame, int frameCount) {
    float peak = -std::numeric_limits<float>::infinity();
    for (int band = 0; band < kNumMelBands; ++band) {
        float* row = features + static_cast<std::size_t>(band) * kNumFrames;
        for (int frame = firstFrame; frame < firstFrame + frameCount; ++frame) {
            row[frame] = std::log10(std::max(row[frame], kEnergyFloor));
            peak = std::max(peak, row[frame]);
        }
    }
    return peak;
}

// Clamps everything to kDynamicRangeDecades below the peak, then shifts and
// scales by fixed amounts, so the output level follows the input level.
void compress(float* features, float peak) {
    const float floor = peak - kDynamicRangeDecades;
    for (int i = 0; i < kFeatureCount; ++i) {
        features[i] = (std::max(features[i], floor) + 4.0f) * 0.25f;
    }
}

}  // namespace

bool isKernelSupported(KernelIsa isa) {
    switch (isa) {
        case KernelIsa::Plain:
            return true;
#if defined(VEYRA_X86_KERNELS)
        case KernelIsa::Avx2:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2");
        case KernelIsa::Avx512:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx512f");
#endif
        default:
            return false;
    }
}

KernelIsa fastestSupportedKernel() {
    static const KernelIsa fastest = [] {
        for (KernelIsa isa : {KernelIsa::Avx512, KernelIsa::Avx2}) {
            if (isKernelSupported(isa)) return isa;
        }
        return KernelIsa::Plain;
    }();
    return fastest;
}

const char* kernelName(KernelIsa isa) {
    switch (isa) {
        case KernelIsa::Avx512:
            return "avx512";
        case KernelIsa::Avx2:
            return "avx2";
        default:
            return "plain";
    }
}

void computeLogMel(const ExtractorTables& tables, const float* samples, float* features, unsigned numThreads,
                   KernelIsa isa) {
    computeLogMel(tables, samples, features, numThreads, kernelFor(isa));
}

void computeLogMel(const ExtractorTables& tables, const float* samples, float* features, unsigned numThreads,
                   const BandEnergyKernel& kernel) {
    const SparseFilterbank filterbank(tables.melFilterbank);
    const BandEnergyInput input{samples,
                                tables.analysisWindow,
                                phasorTable(),
                                filterbank.bandStart.data(),
                                filterbank.bins.data(),
                                filterbank.weights.data()};

    // Worker w owns a contiguous run of whole kernel blocks: its columns of
    // every band.
    const unsigned blocks = (kNumFrames + kernel.blockFrames - 1) / kernel.blockFrames;
    const unsigned workers = std::clamp(numThreads, 1u, blocks);
    std::vector<float> peaks(workers);
    std::vector<std::exception_ptr> failures(workers);

    const auto work = [&](unsigned w) {
        try {
            const int firstFrame = static_cast<int>(blocks * w / workers) * kernel.blockFrames;
            const int lastBlockEnd = static_cast<int>(blocks * (w + 1) / workers) * kernel.blockFrames;
            const int endFrame = std::min(lastBlockEnd, kNumFrames);
            kernel.compute(input, firstFrame, endFrame - firstFrame, features);
            peaks[w] = takeLogarithms(features, firstFrame, endFrame - firstFrame);
        } catch (...) {
            failures[w] = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> helpers;
        helpers.reserve(workers - 1);
        for (unsigned w = 1; w < workers; ++w) helpers.emplace_back(work, w);
        work(0);
    }  // joins the helpers
    for (const std::exception_ptr& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }

    compress(features, *std::max_element(peaks.begin(), peaks.end()));
}

}  // namespace corvanta::extensions::veyra::detail
