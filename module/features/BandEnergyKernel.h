#pragma once

// The expensive part of the log-mel computation: per frame, the windowed
// direct transform, the power spectrum and the mel projection, up to (not
// including) the logarithm. One implementation per instruction set, all with
// the same results.

#include <vector>

#include "MelFeatureExtractor.h"

namespace corvanta::extensions::veyra::detail {

// Bins in the phasor table: kNumBins rounded up so that a kernel may work in
// groups of 2, 3, 4 or 6 bins. The extra rows are 0 and their results unused.
inline constexpr int kPhasorTableBins = 204;

// The non-zero filterbank weights of each band in increasing bin order: the
// zero terms of a band's sum add exactly nothing while the powers are finite
// (an overflowing power, from samples near 1e17, would make them NaN).
struct SparseFilterbank {
    explicit SparseFilterbank(const float* melFilterbank);

    std::vector<int> bandStart;  // kNumMelBands + 1 offsets into bins/weights
    std::vector<int> bins;
    std::vector<float> weights;
};

// (re, im) of the rotating phasor of bin k at sample n, stored at
// [(k * kFrameLength + n) * 2] for k < kPhasorTableBins. Built once per
// process with the recurrence the transform is defined by, so it holds
// exactly the values that recurrence yields at every step.
const float* phasorTable();

// Plain pointers only: the kernels must not call into standard containers
// (see BandEnergyKernelImpl.h).
struct BandEnergyInput {
    const float* samples;         // kWindowSamples
    const float* analysisWindow;  // kFrameLength
    const float* phasors;         // phasorTable()
    // Band b's non-zero weights: entries bandStart[b] to bandStart[b + 1] - 1.
    const int* bandStart;
    const int* bandBins;
    const float* bandWeights;
};

// Writes the mel band energies of frames [firstFrame, firstFrame + frameCount)
// to energies[band * kNumFrames + frame]. Every output keeps its own chain of
// separately rounded operations in the defining order, so all kernels agree
// bit for bit.
using ComputeBandEnergies = void (*)(const BandEnergyInput& input, int firstFrame, int frameCount,
                                     float* energies);

struct BandEnergyKernel {
    // The kernel works on blocks of this many frames: ranges should start on
    // a multiple of it (others cost extra work, not accuracy).
    int blockFrames;
    ComputeBandEnergies compute;
};

BandEnergyKernel plainBandEnergyKernel();
#if defined(VEYRA_X86_KERNELS)
BandEnergyKernel avx2BandEnergyKernel();
BandEnergyKernel avx512BandEnergyKernel();
#endif

}  // namespace corvanta::extensions::veyra::detail
