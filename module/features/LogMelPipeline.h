#pragma once

// The log-mel computation behind MelFeatureExtractor::computeLogMel, with the
// instruction set selectable so that tests can check every kernel.

#include "BandEnergyKernel.h"
#include "MelFeatureExtractor.h"

namespace corvanta::extensions::veyra::detail {

enum class KernelIsa { Plain, Avx2, Avx512 };

// Whether this build contains the kernel and this CPU can run it.
bool isKernelSupported(KernelIsa isa);
KernelIsa fastestSupportedKernel();
const char* kernelName(KernelIsa isa);

struct ExtractorTables {
    const float* analysisWindow;  // kFrameLength
    const float* melFilterbank;   // kNumMelBands x kNumBins
};

// samples: kWindowSamples values; features: kFeatureCount values, all
// overwritten. isa must be supported; numThreads 0 counts as 1.
void computeLogMel(const ExtractorTables& tables, const float* samples, float* features, unsigned numThreads,
                   KernelIsa isa);

// The same with a given band-energy kernel.
void computeLogMel(const ExtractorTables& tables, const float* samples, float* features, unsigned numThreads,
                   const BandEnergyKernel& kernel);

}  // namespace corvanta::extensions::veyra::detail
