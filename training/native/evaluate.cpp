// Scores stored feature matrices with an ONNX model in ONNX Runtime, the way
// the node runs it on the CPU, so the trained float and int8 exports can be
// compared on exactly the runtime that ships.
//
// Usage: veyra_train_evaluate MODEL.onnx FEATURES.f32 PROBABILITIES.txt [BATCH]
//   FEATURES.f32: raw little-endian float32, N x 80 x 800 (band-major items).
//   PROBABILITIES.txt: one probability per item, in input order.
#include <onnxruntime_cxx_api.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int64_t kNumMelBands = 80;
constexpr int64_t kNumFrames = 800;
constexpr int64_t kFeatureCount = kNumMelBands * kNumFrames;

struct Options {
    std::string modelPath;
    std::string featuresPath;
    std::string outputPath;
    int64_t batchSize = 8;
};

bool parseOptions(int argc, char** argv, Options& options) {
    if (argc < 4 || argc > 5) return false;
    options.modelPath = argv[1];
    options.featuresPath = argv[2];
    options.outputPath = argv[3];
    if (argc == 5) options.batchSize = std::stoll(argv[4]);
    return options.batchSize > 0;
}

int64_t countItems(std::ifstream& features, const std::string& path) {
    features.seekg(0, std::ios::end);
    const auto bytes = static_cast<int64_t>(features.tellg());
    features.seekg(0, std::ios::beg);
    const int64_t itemBytes = kFeatureCount * static_cast<int64_t>(sizeof(float));
    if (bytes <= 0 || bytes % itemBytes != 0) {
        throw std::runtime_error(path + ": size is not a whole number of 80 x 800 float32 items");
    }
    return bytes / itemBytes;
}

std::vector<float> scoreBatch(Ort::Session& session, std::vector<float>& features, int64_t count) {
    const std::array<int64_t, 3> shape{count, kNumMelBands, kNumFrames};
    auto memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
    Ort::Value input = Ort::Value::CreateTensor<float>(memory, features.data(),
                                                       static_cast<size_t>(count * kFeatureCount),
                                                       shape.data(), shape.size());
    Ort::AllocatorWithDefaultOptions allocator;
    const auto inputName = session.GetInputNameAllocated(0, allocator);
    const auto outputName = session.GetOutputNameAllocated(0, allocator);
    const char* inputNames[] = {inputName.get()};
    const char* outputNames[] = {outputName.get()};
    auto outputs = session.Run(Ort::RunOptions{nullptr}, inputNames, &input, 1, outputNames, 1);
    const float* values = outputs.front().GetTensorData<float>();
    const auto valueCount = outputs.front().GetTensorTypeAndShapeInfo().GetElementCount();
    if (static_cast<int64_t>(valueCount) < count) {
        throw std::runtime_error("model answered fewer values than batch items");
    }
    // Output [batch, 1]: one probability per item.
    const int64_t stride = static_cast<int64_t>(valueCount) / count;
    std::vector<float> probabilities(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) probabilities[static_cast<size_t>(i)] = values[i * stride];
    return probabilities;
}

void run(const Options& options) {
    std::ifstream features(options.featuresPath, std::ios::binary);
    if (!features) throw std::runtime_error("cannot open " + options.featuresPath);
    const int64_t items = countItems(features, options.featuresPath);

    Ort::Env env(ORT_LOGGING_LEVEL_WARNING, "veyra_train_evaluate");
    Ort::SessionOptions sessionOptions;
    sessionOptions.SetIntraOpNumThreads(1);
    Ort::Session session(env, options.modelPath.c_str(), sessionOptions);

    std::ofstream output(options.outputPath);
    if (!output) throw std::runtime_error("cannot write " + options.outputPath);
    std::vector<float> batch;
    for (int64_t first = 0; first < items; first += options.batchSize) {
        const int64_t count = std::min(options.batchSize, items - first);
        batch.resize(static_cast<size_t>(count * kFeatureCount));
        features.read(reinterpret_cast<char*>(batch.data()),
                      static_cast<std::streamsize>(batch.size() * sizeof(float)));
        if (!features) throw std::runtime_error("short read in " + options.featuresPath);
        for (float probability : scoreBatch(session, batch, count)) {
            char line[32];
            std::snprintf(line, sizeof line, "%.7f\n", static_cast<double>(probability));
            output << line;
        }
    }
    if (!output) throw std::runtime_error("writing " + options.outputPath + " failed");
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::cerr << "usage: veyra_train_evaluate MODEL.onnx FEATURES.f32 PROBABILITIES.txt [BATCH]\n";
        return 2;
    }
    try {
        run(options);
    } catch (const std::exception& error) {
        std::cerr << "veyra_train_evaluate: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
