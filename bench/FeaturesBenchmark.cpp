// Times MelFeatureExtractor::computeLogMel against the literal reference on the
// same input, and refuses to report a production timing whose output differs
// from the reference in any bit.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "LogMelPipeline.h"
#include "MelFeatureExtractor.h"
#include "ReferenceLogMel.h"
#include "TestSignals.h"

namespace {

using corvanta::extensions::veyra::kFeatureCount;
using corvanta::extensions::veyra::MelFeatureExtractor;
namespace detail = corvanta::extensions::veyra::detail;

// Speech-like level white noise: every band carries energy, nothing is clamped.
const std::vector<float>& benchmarkSamples() {
    static const std::vector<float> samples = veyra_test::whiteNoise(0.1f, 20240601u);
    return samples;
}

const MelFeatureExtractor& extractor() {
    static const MelFeatureExtractor instance;
    return instance;
}

const std::vector<float>& referenceFeatures() {
    static const std::vector<float> features = veyra_test::referenceLogMel(
        extractor().getAnalysisWindow(), extractor().getMelFilterbank(), benchmarkSamples().data());
    return features;
}

// On a shared machine the fastest repetition is the best estimate of the
// undisturbed time (run with --benchmark_repetitions=N).
double fastest(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

void reportIdentity(benchmark::State& state, const std::vector<float>& features) {
    if (std::memcmp(features.data(), referenceFeatures().data(), kFeatureCount * sizeof(float)) != 0) {
        state.SkipWithError("output differs from the reference");
    }
}

void BM_ReferenceLogMel(benchmark::State& state) {
    std::vector<float> features;
    for (auto _ : state) {
        features = veyra_test::referenceLogMel(extractor().getAnalysisWindow(), extractor().getMelFilterbank(),
                                               benchmarkSamples().data());
        benchmark::DoNotOptimize(features.data());
    }
}
BENCHMARK(BM_ReferenceLogMel)->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", fastest);

// The production entry point with the CPU's fastest kernel; the argument is
// the thread count (1 is what the node uses).
void BM_ComputeLogMel(benchmark::State& state) {
    const auto threads = static_cast<unsigned>(state.range(0));
    std::vector<float> features(kFeatureCount);
    for (auto _ : state) {
        extractor().computeLogMel(benchmarkSamples().data(), features.data(), threads);
        benchmark::DoNotOptimize(features.data());
    }
    state.SetLabel(detail::kernelName(detail::fastestSupportedKernel()));
    reportIdentity(state, features);
}
BENCHMARK(BM_ComputeLogMel)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", fastest);

// Each kernel this CPU can run, single-threaded.
void BM_ComputeLogMelKernel(benchmark::State& state) {
    const auto isa = static_cast<detail::KernelIsa>(state.range(0));
    if (!detail::isKernelSupported(isa)) {
        state.SkipWithError("kernel not supported on this CPU");
        return;
    }
    const detail::ExtractorTables tables{extractor().getAnalysisWindow().data(),
                                         extractor().getMelFilterbank().data()};
    std::vector<float> features(kFeatureCount);
    for (auto _ : state) {
        detail::computeLogMel(tables, benchmarkSamples().data(), features.data(), 1, isa);
        benchmark::DoNotOptimize(features.data());
    }
    state.SetLabel(detail::kernelName(isa));
    reportIdentity(state, features);
}
BENCHMARK(BM_ComputeLogMelKernel)
    ->ArgName("isa")
    ->Arg(static_cast<int>(detail::KernelIsa::Plain))
    ->Arg(static_cast<int>(detail::KernelIsa::Avx2))
    ->Arg(static_cast<int>(detail::KernelIsa::Avx512))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", fastest);

}  // namespace

BENCHMARK_MAIN();
