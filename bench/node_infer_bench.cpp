// One "infer" on a full window with the embedded model: feature extraction,
// model run, result line and event, as a host's control thread sees it.
#include <benchmark/benchmark.h>

#include <cmath>

#include "VeyraNode.h"
#include "corvanta/Logger.h"

namespace {

using corvanta::extensions::veyra::VeyraNode;

void BM_NodeInfer(benchmark::State& state) {
    const corvanta::ScopedLogSink silent([](corvanta::LogLevel, const std::string&) {});
    VeyraNode node(corvanta::CVAnyMap{});

    // Eight seconds of a 16 kHz tone fill the window through the audio path.
    corvanta::AudioBusFormatList formats{corvanta::AudioBusFormat{1, 16000}};
    node.setBusFormats(formats);
    corvanta::AudioBuffer<float> block(1, 16000);
    for (uint32_t i = 0; i < 16000; ++i) block.getWritePointer(0)[i] = 0.3f * std::sin(0.2f * static_cast<float>(i));
    corvanta::AudioBusVector buses(1);
    buses.getBus(0).setBuffer(&block);
    buses.getBus(0).setFormat(formats.front());
    for (int second = 0; second < 8; ++second) node.consume(buses);

    for (auto _ : state) {
        benchmark::DoNotOptimize(node.callAction("infer", {}));
    }
}
BENCHMARK(BM_NodeInfer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
