// veyra features IN OUT: writes the model's input features for a recording.
//
// IN holds little-endian float32 samples at 16 kHz. As in the node's "infer",
// the newest 8 seconds are used and a shorter recording is right-aligned
// behind zeros. OUT receives the 80 x 800 features as little-endian float32,
// band-major.

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Commands.h"
#include "MelFeatureExtractor.h"

namespace veyra::cli {

namespace {

namespace fs = std::filesystem;
using corvanta::extensions::veyra::kFeatureCount;
using corvanta::extensions::veyra::kWindowSamples;
using corvanta::extensions::veyra::MelFeatureExtractor;

constexpr std::size_t kBytesPerSample = 4;

int fail(const std::string& message) {
    std::fprintf(stderr, "veyra features: %s\n", message.c_str());
    return 1;
}

float decodeLittleEndian(const unsigned char* bytes) {
    const std::uint32_t bits = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                               std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
    return std::bit_cast<float>(bits);
}

void encodeLittleEndian(float value, unsigned char* bytes) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
}

// Fills `window` (kWindowSamples zeros) with the newest samples of `path`,
// right-aligned. Answers an error message, empty on success.
std::string readWindow(const char* path, std::vector<float>& window, std::size_t& nonFiniteCount) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        return std::string("cannot read '") + path + "': " + (error ? error.message() : "not a regular file");
    }
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) return std::string("cannot read '") + path + "': " + error.message();
    if (size == 0) return std::string("'") + path + "' is empty: no samples to analyse";
    if (size % kBytesPerSample != 0) {
        return std::string("'") + path + "' holds " + std::to_string(size) +
               " bytes, not a whole number of float32 samples";
    }

    const std::uintmax_t sampleCount = size / kBytesPerSample;
    const std::size_t used = sampleCount < kWindowSamples ? static_cast<std::size_t>(sampleCount) : kWindowSamples;
    std::vector<unsigned char> bytes(used * kBytesPerSample);
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>((sampleCount - used) * kBytesPerSample));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) return std::string("cannot read '") + path + "': " + std::strerror(errno);

    float* destination = window.data() + (kWindowSamples - used);
    for (std::size_t i = 0; i < used; ++i) {
        const float sample = decodeLittleEndian(&bytes[i * kBytesPerSample]);
        // The extractor reads these as 0 too; count them so the user knows.
        if (!std::isfinite(sample)) ++nonFiniteCount;
        destination[i] = std::isfinite(sample) ? sample : 0.0f;
    }
    return {};
}

std::string writeFeatures(const char* path, const std::vector<float>& features) {
    std::vector<unsigned char> bytes(features.size() * kBytesPerSample);
    for (std::size_t i = 0; i < features.size(); ++i) encodeLittleEndian(features[i], &bytes[i * kBytesPerSample]);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) return std::string("cannot write '") + path + "': " + std::strerror(errno);
    return {};
}

}  // namespace

int runFeatures(std::span<char* const> args) {
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: veyra features IN.f32 OUT.f32\n");
        return 2;
    }
    std::vector<float> window(kWindowSamples, 0.0f);
    std::size_t nonFiniteCount = 0;
    if (std::string error = readWindow(args[0], window, nonFiniteCount); !error.empty()) return fail(error);
    if (nonFiniteCount > 0) {
        std::fprintf(stderr, "veyra features: %zu non-finite samples in '%s' read as 0\n", nonFiniteCount, args[0]);
    }

    std::vector<float> features(kFeatureCount);
    MelFeatureExtractor().computeLogMel(window.data(), features.data());

    if (std::string error = writeFeatures(args[1], features); !error.empty()) return fail(error);
    return 0;
}

}  // namespace veyra::cli
