// Audio intake: mono input, resampled to 16 kHz into a rolling window of the
// newest kWindowSamples samples.
#include <algorithm>
#include <cmath>

#include "VeyraNode.h"
#include "corvanta/Logger.h"

namespace corvanta::extensions::veyra {

namespace {

constexpr int kResamplerMaxBlockFrames = 512;

// A faulty upstream node must not poison every later analysis while its
// samples stay in the window: NaN and infinities enter it as silence.
// Hot loop on the audio thread; preserves every finite sample bit for bit.
void replaceNonFiniteWithSilence(float* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!std::isfinite(samples[i])) {
            samples[i] = 0.0f;
        }
    }
}

}  // namespace

void VeyraNode::createResampler() {
    resampler = std::make_unique<AudioGraphResampler>(kSampleRate, kResamplerMaxBlockFrames);
    resampler->setNumberOfBuses(1, 0);
    resampler->setProcessCallback([this](AudioBusList& input, AudioBusList& /*output*/) {
        if (const AudioBuffer<float>* buffer = input.getBus(0).getBuffer()) {
            appendResampledAudio(*buffer);
        }
        return true;
    });
}

bool VeyraNode::setBusFormat(AudioBusFormat& format) {
    if (format.getNumberOfChannels() == 1) {
        return true;
    }
    Logger::error("[VeyraNode] Only mono audio is supported.");
    return false;
}

bool VeyraNode::consumeBus(AudioBus& bus) {
    // The input array refers to the delivered buffer; its format tells the
    // resampler the input rate.
    AudioBusArray<1> input;
    AudioBusArray<0> output;
    AudioBus& inputBus = input.getBus(0);
    inputBus.setBuffer(bus.getBuffer());
    inputBus.setFormat(bus.getFormat());
    return resampler->process(input, output);
}

void VeyraNode::appendResampledAudio(const AudioBuffer<float>& buffer) {
    const uint32_t frames = buffer.getNumberOfFrames();
    if (frames == 0 || buffer.getNumberOfChannels() == 0) {
        return;
    }
    const float* samples = buffer.getReadPointer(0);

    std::lock_guard lock(audioMutex);
    const std::size_t previousSize = audioBuffer.size();
    audioBuffer.insert(audioBuffer.end(), samples, samples + frames);
    replaceNonFiniteWithSilence(audioBuffer.data() + previousSize, frames);
    // Trimming keeps the capacity, so a steady stream stops allocating once
    // the window has filled.
    if (audioBuffer.size() > static_cast<std::size_t>(kWindowSamples)) {
        const auto excess = static_cast<std::ptrdiff_t>(audioBuffer.size() - kWindowSamples);
        audioBuffer.erase(audioBuffer.begin(), audioBuffer.begin() + excess);
    }
}

void VeyraNode::resetAudio() {
    {
        std::lock_guard lock(audioMutex);
        audioBuffer.clear();
    }
    Logger::info("[VeyraNode] Audio buffer cleared.");
}

std::vector<float> VeyraNode::copyAnalysisFrame() {
    std::vector<float> frame(kWindowSamples, 0.0f);
    std::lock_guard lock(audioMutex);
    const std::size_t count = std::min(audioBuffer.size(), frame.size());
    std::copy(audioBuffer.end() - static_cast<std::ptrdiff_t>(count), audioBuffer.end(),
              frame.end() - static_cast<std::ptrdiff_t>(count));
    return frame;
}

}  // namespace corvanta::extensions::veyra
