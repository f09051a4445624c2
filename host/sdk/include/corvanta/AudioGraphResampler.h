#pragma once

#include <functional>
#include <memory>

#include "corvanta/Audio.h"
#include "corvanta/Export.h"

namespace corvanta {

// Streaming sample-rate converter for graph nodes. process() learns the input
// rate from the format of input bus 0, converts to the output rate (passing
// audio through unchanged when the rates match), and hands the result to the
// process callback in bus 0 of its first list, in blocks of at most
// maxBlockFrames frames. Filter state survives across calls; a change of input
// rate or channel count starts the conversion afresh.
class CORVANTA_API AudioGraphResampler {
public:
    using ProcessCallback = std::function<bool(AudioBusList& input, AudioBusList& output)>;

    AudioGraphResampler(int outputRate, int maxBlockFrames);
    ~AudioGraphResampler();
    AudioGraphResampler(const AudioGraphResampler&) = delete;
    AudioGraphResampler& operator=(const AudioGraphResampler&) = delete;

    bool setNumberOfBuses(unsigned numInputs, unsigned numOutputs);
    void setProcessCallback(ProcessCallback callback);

    // False when the input cannot be converted (no buffer, unknown rate, bus
    // count mismatch) or when the callback answers false.
    bool process(AudioBusList& input, AudioBusList& output);

    // Drops buffered state; the next block starts afresh.
    void reset();

    int getOutputRate() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace corvanta
