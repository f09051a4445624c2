// Every kernel, thread count and entry point must reproduce the literal
// reference bit for bit: the model was trained on exactly these features.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "BandEnergyKernelImpl.h"
#include "LogMelPipeline.h"
#include "MelFeatureExtractor.h"
#include "ReferenceLogMel.h"
#include "TestSignals.h"

namespace corvanta::extensions::veyra::detail {

// Readable test names and failure messages.
void PrintTo(KernelIsa isa, std::ostream* out) { *out << kernelName(isa); }

}  // namespace corvanta::extensions::veyra::detail

namespace {

using corvanta::extensions::veyra::kFeatureCount;
using corvanta::extensions::veyra::kNumFrames;
using corvanta::extensions::veyra::MelFeatureExtractor;
namespace detail = corvanta::extensions::veyra::detail;
using detail::KernelIsa;

struct Signal {
    const char* name;
    std::function<std::vector<float>()> make;
};

const Signal kSignals[] = {
    {"Silence", [] { return veyra_test::silence(); }},
    {"Sine1000HzFullScale", [] { return veyra_test::sine1000Hz(1.0f); }},
    {"QuietNoise", [] { return veyra_test::whiteNoise(0.001f, 11u); }},
    {"LoudNoise", [] { return veyra_test::whiteNoise(0.5f, 12u); }},
    {"OneSecondRightAligned", [] { return veyra_test::rightAlignedNoise(16000, 0.2f, 13u); }},
};

const MelFeatureExtractor& extractor() {
    static const MelFeatureExtractor instance;
    return instance;
}

// The reference is slow: compute it once per signal for all the tests.
struct Case {
    std::vector<float> samples;
    std::vector<float> expected;
};

const Case& caseFor(const Signal& signal) {
    static std::map<std::string, Case> cache;
    auto [it, inserted] = cache.try_emplace(signal.name);
    if (inserted) {
        it->second.samples = signal.make();
        it->second.expected = veyra_test::referenceLogMel(extractor().getAnalysisWindow(),
                                                          extractor().getMelFilterbank(), it->second.samples.data());
    }
    return it->second;
}

// Reports the first differing value rather than just "memcmp failed".
::testing::AssertionResult bitIdentical(const std::vector<float>& actual, const std::vector<float>& expected) {
    if (std::memcmp(actual.data(), expected.data(), kFeatureCount * sizeof(float)) == 0) {
        return ::testing::AssertionSuccess();
    }
    for (int i = 0; i < kFeatureCount; ++i) {
        if (std::memcmp(&actual[i], &expected[i], sizeof(float)) != 0) {
            return ::testing::AssertionFailure() << "first difference at band " << i / kNumFrames << ", frame "
                                                 << i % kNumFrames << ": " << actual[i] << " vs reference "
                                                 << expected[i];
        }
    }
    return ::testing::AssertionFailure();
}

std::vector<float> runKernel(KernelIsa isa, unsigned threads, const std::vector<float>& samples) {
    const detail::ExtractorTables tables{extractor().getAnalysisWindow().data(),
                                         extractor().getMelFilterbank().data()};
    std::vector<float> features(kFeatureCount);
    detail::computeLogMel(tables, samples.data(), features.data(), threads, isa);
    return features;
}

class KernelMatchesReference : public ::testing::TestWithParam<std::tuple<KernelIsa, int>> {};

TEST_P(KernelMatchesReference, BitForBit) {
    const auto [isa, signalIndex] = GetParam();
    if (!detail::isKernelSupported(isa)) GTEST_SKIP() << detail::kernelName(isa) << " not available on this CPU";
    const Case& c = caseFor(kSignals[signalIndex]);
    EXPECT_TRUE(bitIdentical(runKernel(isa, 1, c.samples), c.expected));
}

INSTANTIATE_TEST_SUITE_P(AllKernels, KernelMatchesReference,
                         ::testing::Combine(::testing::Values(KernelIsa::Plain, KernelIsa::Avx2, KernelIsa::Avx512),
                                            ::testing::Range(0, static_cast<int>(std::size(kSignals)))),
                         [](const auto& info) {
                             return std::string(detail::kernelName(std::get<0>(info.param))) + "_" +
                                    kSignals[std::get<1>(info.param)].name;
                         });

// Splitting the frames over threads changes who computes a column, never
// what it holds; uneven and oversized splits included.
TEST(LogMelThreads, AnyThreadCountMatchesReference) {
    const Case& c = caseFor(kSignals[3]);
    for (unsigned threads : {0u, 2u, 3u, 7u, 1000u}) {
        for (KernelIsa isa : {KernelIsa::Plain, KernelIsa::Avx2, KernelIsa::Avx512}) {
            if (!detail::isKernelSupported(isa)) continue;
            EXPECT_TRUE(bitIdentical(runKernel(isa, threads, c.samples), c.expected))
                << detail::kernelName(isa) << ", " << threads << " threads";
        }
    }
}

// The wide kernels' blocking, built here for the baseline instruction set
// (the compiler splits wide vectors), so that it is checked on every CPU:
// the AVX-512 shape included, where the CPU running the tests lacks it.
TEST(KernelShapes, EveryShapeMatchesReferenceOnBaselineInstructions) {
    const detail::BandEnergyKernel shapes[] = {
        detail::makeBandEnergyKernel<16, 2, 6>(),  // AVX-512: bins padded to 204
        detail::makeBandEnergyKernel<8, 3, 2>(),   // AVX2: a partial last block
        detail::makeBandEnergyKernel<4, 1, 3>(),   // small blocks, exact bin groups
    };
    const detail::ExtractorTables tables{extractor().getAnalysisWindow().data(),
                                         extractor().getMelFilterbank().data()};
    for (int signalIndex : {3, 4}) {
        const Case& c = caseFor(kSignals[signalIndex]);
        for (const detail::BandEnergyKernel& kernel : shapes) {
            for (unsigned threads : {1u, 2u}) {
                std::vector<float> features(kFeatureCount);
                detail::computeLogMel(tables, c.samples.data(), features.data(), threads, kernel);
                EXPECT_TRUE(bitIdentical(features, c.expected))
                    << kSignals[signalIndex].name << ", " << kernel.blockFrames << "-frame blocks, " << threads
                    << " threads";
            }
        }
    }
}

TEST(LogMelEntryPoints, PublicOverloadsMatchReference) {
    for (int signalIndex : {1, 4}) {
        const Case& c = caseFor(kSignals[signalIndex]);
        std::vector<float> single(kFeatureCount);
        extractor().computeLogMel(c.samples.data(), single.data());
        EXPECT_TRUE(bitIdentical(single, c.expected)) << kSignals[signalIndex].name;
        std::vector<float> two(kFeatureCount);
        extractor().computeLogMel(c.samples.data(), two.data(), 2);
        EXPECT_TRUE(bitIdentical(two, c.expected)) << kSignals[signalIndex].name;
    }
}

}  // namespace
