// Turns training clips into model inputs with the node's own code path: the
// host resampler brings each clip to 16 kHz in graph-sized blocks, the newest
// 128000 samples are right-aligned behind zeros, and the node's extractor
// computes the 80 x 800 log-mel features. One process handles many clips so
// start-up costs are paid once.
//
// Usage: veyra_train_prepare LIST.txt FEATURES.f32
//   LIST.txt: one clip per line, "SAMPLE_RATE PATH", PATH holding mono
//   little-endian float32 samples.
//   FEATURES.f32: N x 80 x 800 float32, clips in list order.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "MelFeatureExtractor.h"
#include "corvanta/Audio.h"
#include "corvanta/AudioGraphResampler.h"

namespace {

using corvanta::AudioBuffer;
using corvanta::AudioBusArray;
using corvanta::AudioBusList;
using corvanta::AudioGraphResampler;
using corvanta::extensions::veyra::kFeatureCount;
using corvanta::extensions::veyra::kSampleRate;
using corvanta::extensions::veyra::kWindowSamples;
using corvanta::extensions::veyra::MelFeatureExtractor;

// Blocks the size a host graph typically delivers; the node's resampler
// block limit is 512.
constexpr uint32_t kDeliveryFrames = 480;
constexpr int kResamplerMaxBlockFrames = 512;

struct Clip {
    uint32_t sampleRate = 0;
    std::string path;
};

std::vector<Clip> readList(const std::string& listPath) {
    std::ifstream list(listPath);
    if (!list) throw std::runtime_error("cannot open " + listPath);
    std::vector<Clip> clips;
    std::string line;
    while (std::getline(list, line)) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        Clip clip;
        if (!(fields >> clip.sampleRate) || clip.sampleRate == 0) {
            throw std::runtime_error("bad line in " + listPath + ": " + line);
        }
        fields >> std::ws;
        std::getline(fields, clip.path);
        clips.push_back(clip);
    }
    return clips;
}

std::vector<float> readSamples(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) throw std::runtime_error("cannot open " + path);
    const auto bytes = static_cast<std::size_t>(file.tellg());
    if (bytes % sizeof(float) != 0) throw std::runtime_error(path + ": not float32 samples");
    std::vector<float> samples(bytes / sizeof(float));
    file.seekg(0);
    file.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(bytes));
    if (!file) throw std::runtime_error("short read in " + path);
    return samples;
}

// Resamples one clip as the node's audio path does and answers the 16 kHz
// samples the node's window would hold.
class ClipResampler {
public:
    ClipResampler() : resampler(kSampleRate, kResamplerMaxBlockFrames) {
        resampler.setNumberOfBuses(1, 0);
        resampler.setProcessCallback([this](AudioBusList& input, AudioBusList&) {
            if (const AudioBuffer<float>* buffer = input.getBus(0).getBuffer()) {
                const float* samples = buffer->getReadPointer(0);
                resampled.insert(resampled.end(), samples, samples + buffer->getNumberOfFrames());
            }
            return true;
        });
    }

    std::vector<float> run(const std::vector<float>& samples, uint32_t sampleRate) {
        resampler.reset();
        resampled.clear();
        for (std::size_t first = 0; first < samples.size(); first += kDeliveryFrames) {
            const auto frames = static_cast<uint32_t>(std::min<std::size_t>(kDeliveryFrames, samples.size() - first));
            AudioBuffer<float> block(1, frames);
            std::copy_n(samples.data() + first, frames, block.getWritePointer(0));
            AudioBusArray<1> input;
            AudioBusArray<0> output;
            input.getBus(0).setBuffer(&block);
            input.getBus(0).setFormat({1, sampleRate});
            if (!resampler.process(input, output)) {
                throw std::runtime_error("resampler refused a block at " + std::to_string(sampleRate) + " Hz");
            }
        }
        return resampled;
    }

private:
    AudioGraphResampler resampler;
    std::vector<float> resampled;
};

// The newest kWindowSamples samples behind leading zeros, as "infer" builds it.
std::vector<float> analysisFrame(const std::vector<float>& samples) {
    std::vector<float> frame(kWindowSamples, 0.0f);
    const std::size_t count = std::min<std::size_t>(samples.size(), kWindowSamples);
    std::copy(samples.end() - static_cast<std::ptrdiff_t>(count), samples.end(), frame.end() - static_cast<std::ptrdiff_t>(count));
    return frame;
}

void run(const std::string& listPath, const std::string& outputPath) {
    const std::vector<Clip> clips = readList(listPath);
    std::ofstream output(outputPath, std::ios::binary);
    if (!output) throw std::runtime_error("cannot write " + outputPath);
    const MelFeatureExtractor extractor;
    ClipResampler resampler;
    std::vector<float> features(kFeatureCount);
    for (const Clip& clip : clips) {
        const std::vector<float> frame = analysisFrame(resampler.run(readSamples(clip.path), clip.sampleRate));
        extractor.computeLogMel(frame.data(), features.data());
        output.write(reinterpret_cast<const char*>(features.data()),
                     static_cast<std::streamsize>(features.size() * sizeof(float)));
    }
    if (!output) throw std::runtime_error("writing " + outputPath + " failed");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: veyra_train_prepare LIST.txt FEATURES.f32\n";
        return 2;
    }
    try {
        run(argv[1], argv[2]);
    } catch (const std::exception& error) {
        std::cerr << "veyra_train_prepare: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
