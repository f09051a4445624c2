#include "corvanta/AudioGraphResampler.h"

#include <soxr.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "corvanta/Logger.h"

namespace corvanta {

namespace {

struct SoxrDeleter {
    void operator()(soxr_t converter) const { soxr_delete(converter); }
};
using SoxrHandle = std::unique_ptr<struct soxr, SoxrDeleter>;

constexpr unsigned kLog2LargeDftSize = 10;

}  // namespace

// One stream at a time: the input rate and channel count it was started for,
// and a libsoxr converter unless the rates match (then audio passes through).
struct AudioGraphResampler::Impl {
    Impl(uint32_t rate, uint32_t blockFrames) : outputRate(rate), maxBlockFrames(blockFrames) {}

    bool process(AudioBusList& input, AudioBusList& output);
    bool startStream(uint32_t rate, uint32_t channels, AudioBusList& output);
    bool passThrough(const AudioBuffer<float>& source, AudioBusList& output);
    bool convert(const AudioBuffer<float>& source, AudioBusList& output);
    bool flushConverter(AudioBusList& output);
    bool deliverConverted(std::size_t frames, AudioBusList& output);
    bool deliver(AudioBusList& output);
    void dropStream();

    const uint32_t outputRate;
    const uint32_t maxBlockFrames;
    unsigned expectedInputs = 1;
    unsigned expectedOutputs = 0;
    ProcessCallback callback;

    uint32_t inputRate = 0;  // 0: no stream yet
    uint32_t numChannels = 0;
    SoxrHandle converter;           // null while passing through
    AudioBuffer<float> converted;   // libsoxr writes here, maxBlockFrames per channel
    std::vector<float*> convertedPointers;
    std::vector<const float*> inputPointers;  // where each channel's unread input starts
    AudioBuffer<float> block;       // what the callback receives
    AudioBusArray<1> delivery;
};

AudioGraphResampler::AudioGraphResampler(int outputRate, int maxBlockFrames) {
    if (outputRate <= 0 || maxBlockFrames <= 0) {
        throw std::invalid_argument("AudioGraphResampler: output rate and block size must be positive, got " +
                                    std::to_string(outputRate) + " and " + std::to_string(maxBlockFrames));
    }
    impl = std::make_unique<Impl>(static_cast<uint32_t>(outputRate), static_cast<uint32_t>(maxBlockFrames));
}

AudioGraphResampler::~AudioGraphResampler() = default;

bool AudioGraphResampler::setNumberOfBuses(unsigned numInputs, unsigned numOutputs) {
    // Only bus 0 is converted, so exactly one input bus can be served.
    if (numInputs != 1) return false;
    impl->expectedInputs = numInputs;
    impl->expectedOutputs = numOutputs;
    return true;
}

void AudioGraphResampler::setProcessCallback(ProcessCallback callback) {
    impl->callback = std::move(callback);
}

bool AudioGraphResampler::process(AudioBusList& input, AudioBusList& output) {
    return impl->process(input, output);
}

void AudioGraphResampler::reset() {
    impl->dropStream();
}

int AudioGraphResampler::getOutputRate() const {
    return static_cast<int>(impl->outputRate);
}

bool AudioGraphResampler::Impl::process(AudioBusList& input, AudioBusList& output) {
    // Converting with nowhere to deliver would lose the audio.
    if (!callback) return false;
    if (input.getNumberOfBuses() != expectedInputs || output.getNumberOfBuses() != expectedOutputs) return false;
    const AudioBus& bus = input.getBus(0);
    const AudioBuffer<float>* source = bus.getBuffer();
    const uint32_t rate = bus.getFormat().getSampleRate();
    if (source == nullptr || rate == 0 || source->getNumberOfChannels() == 0) return false;

    if (rate != inputRate || source->getNumberOfChannels() != numChannels) {
        if (!startStream(rate, source->getNumberOfChannels(), output)) return false;
    }
    return converter ? convert(*source, output) : passThrough(*source, output);
}

// Ends the current stream, delivering what its filter still holds so that no
// audio is lost, and starts a new one for the given rate and channel count.
bool AudioGraphResampler::Impl::startStream(uint32_t rate, uint32_t channels, AudioBusList& output) {
    const bool flushed = flushConverter(output);
    dropStream();
    if (rate != outputRate) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        // Small transform blocks halve how much output libsoxr holds back
        // (about 15 ms instead of 37 ms at 48 kHz); the filter is unchanged.
        runtime.log2_large_dft_size = kLog2LargeDftSize;
        converter.reset(soxr_create(rate, outputRate, channels, &error, &io, &quality, &runtime));
        if (error != nullptr || !converter) {
            Logger::error("AudioGraphResampler: cannot convert " + std::to_string(rate) + " Hz to " +
                          std::to_string(outputRate) + " Hz: " + (error != nullptr ? error : "unknown error"));
            converter.reset();
            return false;
        }
        converted.setSize(channels, maxBlockFrames);
        convertedPointers.resize(channels);
        for (uint32_t channel = 0; channel < channels; ++channel) {
            convertedPointers[channel] = converted.getWritePointer(channel);
        }
        inputPointers.resize(channels);
    }
    inputRate = rate;
    numChannels = channels;
    return flushed;
}

bool AudioGraphResampler::Impl::passThrough(const AudioBuffer<float>& source, AudioBusList& output) {
    const uint32_t total = source.getNumberOfFrames();
    for (uint32_t start = 0; start < total; start += maxBlockFrames) {
        const uint32_t frames = std::min(maxBlockFrames, total - start);
        block.setSize(numChannels, frames);
        for (uint32_t channel = 0; channel < numChannels; ++channel) {
            std::copy_n(source.getReadPointer(channel) + start, frames, block.getWritePointer(channel));
        }
        if (!deliver(output)) return false;
    }
    return true;
}

// Feeds the whole block to libsoxr and delivers its output as it comes, at
// most maxBlockFrames at a time. libsoxr keeps the filter history between
// calls, so consecutive blocks join without a seam. Runs on the audio thread:
// the pointer arrays are sized when the stream starts, not per block.
bool AudioGraphResampler::Impl::convert(const AudioBuffer<float>& source, AudioBusList& output) {
    for (uint32_t channel = 0; channel < numChannels; ++channel) {
        inputPointers[channel] = source.getReadPointer(channel);
    }
    std::size_t remaining = source.getNumberOfFrames();
    std::size_t produced = 0;
    do {
        std::size_t used = 0;
        const soxr_error_t error = soxr_process(converter.get(), inputPointers.data(), remaining, &used,
                                                convertedPointers.data(), maxBlockFrames, &produced);
        if (error != nullptr || (remaining > 0 && used == 0 && produced == 0)) {
            Logger::error(std::string("AudioGraphResampler: conversion failed: ") +
                          (error != nullptr ? error : "no progress"));
            return false;
        }
        for (auto& pointer : inputPointers) pointer += used;
        remaining -= used;
        if (produced > 0 && !deliverConverted(produced, output)) return false;
        // A full output block means more may be waiting even with no input left.
    } while (remaining > 0 || produced == maxBlockFrames);
    return true;
}

bool AudioGraphResampler::Impl::flushConverter(AudioBusList& output) {
    if (!converter) return true;
    std::size_t produced = 0;
    do {
        // No input (null) tells libsoxr the stream has ended.
        if (soxr_process(converter.get(), nullptr, 0, nullptr, convertedPointers.data(), maxBlockFrames,
                         &produced) != nullptr) {
            return false;
        }
        if (produced > 0 && !deliverConverted(produced, output)) return false;
    } while (produced > 0);
    return true;
}

bool AudioGraphResampler::Impl::deliverConverted(std::size_t frames, AudioBusList& output) {
    block.setSize(numChannels, static_cast<uint32_t>(frames));
    for (uint32_t channel = 0; channel < numChannels; ++channel) {
        std::copy_n(converted.getReadPointer(channel), frames, block.getWritePointer(channel));
    }
    return deliver(output);
}

bool AudioGraphResampler::Impl::deliver(AudioBusList& output) {
    AudioBus& bus = delivery.getBus(0);
    bus.setBuffer(&block);
    bus.setFormat({numChannels, outputRate});
    return callback(delivery, output);
}

void AudioGraphResampler::Impl::dropStream() {
    converter.reset();
    inputRate = 0;
    numChannels = 0;
}

}  // namespace corvanta
