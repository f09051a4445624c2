#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

struct sf_private_tag;

namespace veyra::cli {

// A file that cannot be opened or read as audio.
class AudioFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Streams any file libsndfile reads (WAV, FLAC, OGG, ...) as mono float
// samples in [-1, 1]: several channels are averaged into one.
class AudioFileReader {
public:
    explicit AudioFileReader(const std::string& path);
    ~AudioFileReader();
    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    int sampleRate() const { return rate; }
    int channelCount() const { return channels; }
    int64_t frameCount() const { return frames; }
    double durationSeconds() const { return static_cast<double>(frames) / rate; }

    // Reads up to maxFrames mono frames into mono (resized to what was read);
    // answers the count, 0 at the end of the file. Throws on a read error.
    std::size_t read(std::vector<float>& mono, std::size_t maxFrames);

private:
    sf_private_tag* file = nullptr;
    int rate = 0;
    int channels = 0;
    int64_t frames = 0;
    std::vector<float> interleaved;
};

}  // namespace veyra::cli
