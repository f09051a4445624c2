#pragma once

#include <functional>
#include <memory>

#include "corvanta/Audio.h"
#include "corvanta/Export.h"

namespace corvanta {

// Streaming sample-rate converter for graph nodes. process() learns the input
// rate from the format of input bus 0, converts to the output rate (passing
// audio through unchanged when the rates match), and hands the result to the
// process callback, inside process(), in bus 0 of its first list: an owning
// buffer with every channel of the input, the bus format set to the output
// rate, at most maxBlockFrames frames per call. The second list is the output
// list given to process().
//
// Conversion is libsoxr's high-quality linear-phase filter. Its group delay
// is compensated, so output frame n belongs to input time n / outputRate, but
// the filter holds back the newest output until enough input follows: to
// 16 kHz about 170 frames (11 ms) on average and at most about 270 frames
// (17 ms) from 44.1 or 48 kHz; about 500 frames on average and at most about
// 830 frames (52 ms) from 8 kHz.
//
// Filter state survives across calls, so blocks of any size join without a
// seam. A change of input rate or channel count ends the current stream,
// delivering what the filter still holds, and starts a fresh one. Not
// thread-safe: one caller at a time.
class CORVANTA_API AudioGraphResampler {
public:
    using ProcessCallback = std::function<bool(AudioBusList& input, AudioBusList& output)>;

    // Throws std::invalid_argument unless both are positive.
    AudioGraphResampler(int outputRate, int maxBlockFrames);
    ~AudioGraphResampler();
    AudioGraphResampler(const AudioGraphResampler&) = delete;
    AudioGraphResampler& operator=(const AudioGraphResampler&) = delete;

    // Exactly one input bus; any number of output buses. Anything else answers
    // false and keeps the previous counts (1 and 0 until set).
    bool setNumberOfBuses(unsigned numInputs, unsigned numOutputs);
    void setProcessCallback(ProcessCallback callback);

    // False, converting nothing, when the input cannot be converted (no buffer,
    // no channels, sample rate 0, bus counts other than those set, no
    // callback). False as well when the callback answers false: delivery of
    // this block stops there.
    bool process(AudioBusList& input, AudioBusList& output);

    // Drops buffered state without delivering it; the next block starts afresh.
    void reset();

    int getOutputRate() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace corvanta
