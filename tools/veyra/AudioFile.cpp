#include "AudioFile.h"

#include <sndfile.h>

#include <filesystem>

namespace veyra::cli {

AudioFileReader::AudioFileReader(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) throw AudioFileError("no such file: " + path);
    if (!std::filesystem::is_regular_file(path, error)) throw AudioFileError("not a regular file: " + path);

    SF_INFO info{};
    file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        throw AudioFileError("cannot read " + path + " as audio: " + sf_strerror(nullptr));
    }
    if (info.samplerate <= 0 || info.channels <= 0) {
        sf_close(file);
        throw AudioFileError("unsupported audio in " + path + ": no sample rate or no channels");
    }
    rate = info.samplerate;
    channels = info.channels;
    frames = info.frames;
}

AudioFileReader::~AudioFileReader() { sf_close(file); }

std::size_t AudioFileReader::read(std::vector<float>& mono, std::size_t maxFrames) {
    interleaved.resize(maxFrames * static_cast<std::size_t>(channels));
    const sf_count_t got = sf_readf_float(file, interleaved.data(), static_cast<sf_count_t>(maxFrames));
    if (got < 0 || sf_error(file) != SF_ERR_NO_ERROR) {
        throw AudioFileError(std::string("read error: ") + sf_strerror(file));
    }
    const auto count = static_cast<std::size_t>(got);
    mono.resize(count);
    for (std::size_t frame = 0; frame < count; ++frame) {
        float sum = 0.0f;
        for (int channel = 0; channel < channels; ++channel) sum += interleaved[frame * channels + channel];
        mono[frame] = sum / static_cast<float>(channels);
    }
    return count;
}

}  // namespace veyra::cli
