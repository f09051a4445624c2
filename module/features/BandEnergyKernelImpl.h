#pragma once

// The band-energy kernel, written once for any lane count with the compiler's
// vector extension. Each instruction-set translation unit includes this file
// and instantiates it with its own shape; everything here has internal
// linkage and uses no standard template (std::min, std::fill, ...) that a
// narrower translation unit could share: the linker keeps one copy of such a
// function, and a copy compiled for a wider instruction set would then run in
// the narrower kernel.
//
// Frames run in the lanes: lane j of a vector belongs to its own frame, so
// every output keeps its own chain of separately rounded multiplies and adds,
// in exactly the order of the plain definition:
//   re = re + x[n] * phasorRe[n],  im = im + x[n] * phasorIm[n]  (n = 0..399)
//   power = im * im + re * re
//   energy[band] = energy[band] + power[k] * weight[band][k]  (k increasing)
// Nothing may be reassociated, fused or reordered across n or k.

#include <cstddef>
#include <cstring>
#include <memory>

#include "BandEnergyKernel.h"

namespace corvanta::extensions::veyra::detail {
namespace {

// The compiler's vector type of kLanes floats (its size attribute cannot
// depend on a template parameter, hence one specialisation per width).
template <int kLanes>
struct LaneVector;
template <>
struct LaneVector<4> {
    typedef float Type __attribute__((vector_size(16)));
};
template <>
struct LaneVector<8> {
    typedef float Type __attribute__((vector_size(32)));
};
template <>
struct LaneVector<16> {
    typedef float Type __attribute__((vector_size(64)));
};

// kFrameVectors vectors of frames share each phasor load, kBinsPerGroup bins
// share each sample load. The product, times two (re, im), is the number of
// independent accumulator chains: enough to keep the adders busy, few enough
// to stay in registers (a spilled accumulator serialises on memory).
template <int kLanes, int kFrameVectors, int kBinsPerGroup>
class BandEnergyBlocks {
public:
    using Vec = typename LaneVector<kLanes>::Type;
    using Mask = decltype(Vec{} != Vec{});  // lane-wise comparison result
    static constexpr int kBlockFrames = kLanes * kFrameVectors;
    // The last group may run past kNumBins into the table's zero rows.
    static_assert((kNumBins + kBinsPerGroup - 1) / kBinsPerGroup * kBinsPerGroup <= kPhasorTableBins);

    explicit BandEnergyBlocks(const BandEnergyInput& input) : input(input), scratch(std::make_unique<Scratch>()) {}

    void run(int firstFrame, int frameCount, float* energies) {
        const int endFrame = firstFrame + frameCount;
        for (int blockStart = firstFrame; blockStart < endFrame; blockStart += kBlockFrames) {
            const int framesToStore = endFrame - blockStart < kBlockFrames ? endFrame - blockStart : kBlockFrames;
            if (!windowFrames(blockStart)) {
                storeSilence(blockStart, framesToStore, energies);
                continue;
            }
            for (int firstBin = 0; firstBin < kNumBins; firstBin += kBinsPerGroup) transformBins(firstBin);
            projectOntoBands(blockStart, framesToStore, energies);
        }
    }

private:
    static constexpr int kBlockSamples = (kBlockFrames - 1) * kHopLength + kFrameLength;
    static_assert(kFrameLength % kLanes == 0);

    struct Scratch {
        float samples[kBlockSamples];
        alignas(Vec) float windowed[kFrameLength][kBlockFrames];  // sample n of every frame in the block
        Vec power[kPhasorTableBins][kFrameVectors];
    };

    static Vec load(const float* values) {
        Vec vector;
        std::memcpy(&vector, values, sizeof(vector));
        return vector;
    }

    // The block's samples, non-finite ones read as 0 and samples past the
    // window end as 0 (so are whole frames past the last one, computed only
    // to fill a block).
    void copyBlockSamples(int blockStart) {
        const int first = blockStart * kHopLength;
        const int remaining = kWindowSamples - first;
        const int available = remaining < 0 ? 0 : remaining > kBlockSamples ? kBlockSamples : remaining;
        for (int i = 0; i < available; ++i) {
            const float sample = input.samples[first + i];
            scratch->samples[i] = __builtin_isfinite(sample) ? sample : 0.0f;
        }
        for (int i = available; i < kBlockSamples; ++i) scratch->samples[i] = 0.0f;
    }

    // Windowed samples, transposed so that one load fetches sample n of
    // kLanes frames. Computed kLanes samples of one frame at a time and
    // scattered over kLanes neighbouring rows, which stay in cache. Answers
    // whether any windowed sample is non-zero.
    bool windowFrames(int blockStart) {
        copyBlockSamples(blockStart);
        Mask nonZero = {};
        for (int n0 = 0; n0 < kFrameLength; n0 += kLanes) {
            const Vec window = load(input.analysisWindow + n0);
            for (int f = 0; f < kBlockFrames; ++f) {
                const Vec x = window * load(scratch->samples + f * kHopLength + n0);
                for (int i = 0; i < kLanes; ++i) scratch->windowed[n0 + i][f] = x[i];
                nonZero |= x != Vec{};
            }
        }
        for (int i = 0; i < kLanes; ++i) {
            if (nonZero[i] != 0) return true;
        }
        return false;
    }

    // All-zero frames (the padding in front of a short recording) have
    // power +0 in every bin, so every band energy is exactly +0.
    void storeSilence(int blockStart, int framesToStore, float* energies) {
        for (int band = 0; band < kNumMelBands; ++band) {
            float* out = energies + static_cast<std::size_t>(band) * kNumFrames + blockStart;
            for (int f = 0; f < framesToStore; ++f) out[f] = 0.0f;
        }
    }

    // Hot loop: the direct transform of kBinsPerGroup bins for every frame of
    // the block, with the phasors the defining recurrence produces.
    void transformBins(int firstBin) {
        Vec re[kBinsPerGroup][kFrameVectors] = {};
        Vec im[kBinsPerGroup][kFrameVectors] = {};
        const float* phasor[kBinsPerGroup];
        for (int b = 0; b < kBinsPerGroup; ++b) {
            phasor[b] = input.phasors + static_cast<std::size_t>(firstBin + b) * kFrameLength * 2;
        }
        for (int n = 0; n < kFrameLength; ++n) {
            for (int b = 0; b < kBinsPerGroup; ++b) {
                const float phasorRe = phasor[b][2 * n];
                const float phasorIm = phasor[b][2 * n + 1];
                for (int v = 0; v < kFrameVectors; ++v) {
                    const Vec x = load(&scratch->windowed[n][v * kLanes]);
                    re[b][v] = re[b][v] + x * phasorRe;
                    im[b][v] = im[b][v] + x * phasorIm;
                }
            }
        }
        for (int b = 0; b < kBinsPerGroup; ++b) {
            for (int v = 0; v < kFrameVectors; ++v) {
                scratch->power[firstBin + b][v] = im[b][v] * im[b][v] + re[b][v] * re[b][v];
            }
        }
    }

    // Only the non-zero weights, in increasing bin order: for finite powers
    // the skipped terms would add exactly 0.
    void projectOntoBands(int blockStart, int framesToStore, float* energies) {
        for (int band = 0; band < kNumMelBands; ++band) {
            Vec energy[kFrameVectors] = {};
            for (int i = input.bandStart[band]; i < input.bandStart[band + 1]; ++i) {
                const Vec* power = scratch->power[input.bandBins[i]];
                const float weight = input.bandWeights[i];
                for (int v = 0; v < kFrameVectors; ++v) energy[v] = energy[v] + power[v] * weight;
            }
            float* out = energies + static_cast<std::size_t>(band) * kNumFrames + blockStart;
            std::memcpy(out, energy, static_cast<std::size_t>(framesToStore) * sizeof(float));
        }
    }

    const BandEnergyInput& input;
    std::unique_ptr<Scratch> scratch;
};

template <int kLanes, int kFrameVectors, int kBinsPerGroup>
BandEnergyKernel makeBandEnergyKernel() {
    using Blocks = BandEnergyBlocks<kLanes, kFrameVectors, kBinsPerGroup>;
    return {Blocks::kBlockFrames, [](const BandEnergyInput& input, int firstFrame, int frameCount, float* energies) {
                Blocks(input).run(firstFrame, frameCount, energies);
            }};
}

}  // namespace
}  // namespace corvanta::extensions::veyra::detail
