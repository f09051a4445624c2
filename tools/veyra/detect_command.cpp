// `veyra detect`: runs the turn detector over an audio file the way a
// real-time host would, and reports each inference.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "AudioFile.h"
#include "Commands.h"
#include "ModuleHost.h"
#include "PauseGate.h"
#include "SvgPlot.h"
#include "corvanta/Audio.h"
#include "corvanta/Logger.h"
#include "corvanta/Node.h"

namespace veyra::cli {

namespace {

constexpr const char* kUsage =
    "usage: veyra detect FILE [--threshold T] [--model PATH] [--every SEC | --on-pause MS]\n"
    "                         [--at-end] [--json] [--plot OUT.svg] [--module PATH] [--verbose]\n"
    "  --threshold T   decision threshold in [0, 1] (default 0.5)\n"
    "  --model PATH    ONNX model file instead of the embedded model\n"
    "  --every SEC     infer every SEC seconds of audio\n"
    "  --on-pause MS   infer when MS ms of silence follow speech (default: 200)\n"
    "  --at-end        also infer once after the whole file\n"
    "  --json          one JSON object per inference\n"
    "  --plot OUT.svg  draw waveform, probabilities and turn ends\n"
    "  --module PATH   the module to load (default: ../lib/libCorvantaVeyra.so beside the executable)\n"
    "  --verbose       show the node's log lines\n";

constexpr double kDefaultPauseMs = 200.0;
constexpr int kBlocksPerSecond = 100;  // 10 ms blocks, as a real-time host delivers them
constexpr double kProgressMinimumSeconds = 30.0;

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Trigger { Pause, Every, End };

const char* triggerName(Trigger trigger) {
    switch (trigger) {
        case Trigger::Pause: return "pause";
        case Trigger::Every: return "every";
        case Trigger::End: return "end";
    }
    return "?";
}

struct DetectOptions {
    std::string file;
    std::optional<float> threshold;
    std::string modelPath;
    std::string modulePath;
    std::optional<double> everySeconds;
    std::optional<double> pauseMs;
    bool atEnd = false;
    bool json = false;
    bool verbose = false;
    bool help = false;
    std::string plotPath;
};

double parseNumber(const std::string& text, const std::string& option) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) {
        throw UsageError(option + " needs a number, got '" + text + "'");
    }
    return value;
}

DetectOptions parseOptions(std::span<char* const> args) {
    DetectOptions options;
    auto valueOf = [&](std::size_t& i) -> std::string {
        if (i + 1 >= args.size()) throw UsageError(std::string(args[i]) + " needs a value");
        return args[++i];
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string arg = args[i];
        if (arg == "--threshold") {
            const double value = parseNumber(valueOf(i), arg);
            if (value < 0.0 || value > 1.0) throw UsageError("--threshold must lie in [0, 1]");
            options.threshold = static_cast<float>(value);
        } else if (arg == "--model") {
            options.modelPath = valueOf(i);
            if (options.modelPath.empty()) throw UsageError("--model needs a path");
        } else if (arg == "--module") {
            options.modulePath = valueOf(i);
        } else if (arg == "--every") {
            options.everySeconds = parseNumber(valueOf(i), arg);
            if (*options.everySeconds <= 0.0) throw UsageError("--every must be a positive number of seconds");
        } else if (arg == "--on-pause") {
            options.pauseMs = parseNumber(valueOf(i), arg);
            if (*options.pauseMs <= 0.0) throw UsageError("--on-pause must be a positive number of milliseconds");
        } else if (arg == "--at-end") {
            options.atEnd = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--plot") {
            options.plotPath = valueOf(i);
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else if (options.file.empty()) {
            options.file = arg;
        } else {
            throw UsageError("more than one input file ('" + options.file + "', '" + arg + "')");
        }
    }
    if (options.everySeconds && options.pauseMs) throw UsageError("--every and --on-pause exclude each other");
    if (options.file.empty() && !options.help) throw UsageError("no input file");
    return options;
}

struct InferenceRecord {
    double time = 0.0;
    float probability = 0.0f;
    bool isTurnComplete = false;
    double inferMs = NAN;
    Trigger trigger = Trigger::End;
};

// Takes over the host's log while the command runs: picks up the run time
// from the node's inference line, and shows the node's lines only when asked
// to (errors always).
class NodeLog {
public:
    explicit NodeLog(bool verbose)
        : sink([this, verbose](corvanta::LogLevel level, const std::string& line) {
              double ms = 0.0;
              if (std::sscanf(line.c_str(), "[VeyraNode] infer: probability=%*f isTurnComplete=%*d inferMs=%lf", &ms) == 1) {
                  lastInferMs = ms;
              }
              if (verbose || level == corvanta::LogLevel::Error) std::fprintf(stderr, "%s\n", line.c_str());
          }) {}

    // The run time of the inference since the last call, NaN if none was logged.
    double takeInferMs() { return std::exchange(lastInferMs, NAN); }

private:
    double lastInferMs = NAN;
    corvanta::ScopedLogSink sink;  // last: restored before the state it writes goes away
};

// A percentage on stderr for long files, only when stderr is a terminal.
class Progress {
public:
    Progress(int64_t totalFrames, double durationSeconds)
        : total(totalFrames), enabled(isatty(STDERR_FILENO) && durationSeconds >= kProgressMinimumSeconds) {}
    ~Progress() { clear(); }

    void update(int64_t framesDone) {
        if (!enabled || total <= 0) return;
        const int percent = static_cast<int>(100 * framesDone / total);
        if (percent == shown) return;
        shown = percent;
        std::fprintf(stderr, "\rveyra detect: %3d%%", percent);
        std::fflush(stderr);
    }
    void clear() {
        if (!enabled || shown < 0) return;
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        shown = -1;
    }

private:
    int64_t total;
    bool enabled;
    int shown = -1;
};

std::string jsonNumber(double value, const char* format) {
    if (!std::isfinite(value)) return "null";  // JSON has no NaN or infinity
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void printRecord(const InferenceRecord& record, bool json) {
    if (json) {
        std::printf("{\"time\":%s,\"probability\":%s,\"isTurnComplete\":%s,\"inferMs\":%s,\"trigger\":\"%s\"}\n",
                    jsonNumber(record.time, "%.3f").c_str(), jsonNumber(record.probability, "%.6f").c_str(),
                    record.isTurnComplete ? "true" : "false", jsonNumber(record.inferMs, "%.3f").c_str(),
                    triggerName(record.trigger));
    } else {
        std::printf("%8.3fs  probability=%.6f  %-10s  inferMs=%.3f  trigger=%s\n", record.time, record.probability,
                    record.isTurnComplete ? "complete" : "incomplete", record.inferMs, triggerName(record.trigger));
    }
    std::fflush(stdout);
}

// One node fed through the host's audio path: mono bus at the file's rate.
class DetectorNode {
public:
    DetectorNode(ModuleHost& host, const DetectOptions& options, int sampleRate) : format{1, static_cast<uint32_t>(sampleRate)} {
        corvanta::CVAnyMap config;
        if (options.threshold) config.insert("threshold", corvanta::CVAny(*options.threshold));
        if (!options.modelPath.empty()) config.insert("modelPath", corvanta::CVAny(options.modelPath));
        node = host.createNode(config);
        sink = dynamic_cast<corvanta::AudioSinkNode*>(node.get());
        if (sink == nullptr) throw HostError("the Veyra node is not an audio sink");
        corvanta::AudioBusFormatList formats{format};
        if (!sink->setBusFormats(formats)) {
            throw HostError("the node refused mono audio at " + std::to_string(sampleRate) + " Hz");
        }
    }

    float threshold() {
        return corvanta::CVAny::convert<float>(node->getValue("threshold").value());
    }

    void feed(std::vector<float>& block) {
        float* channels[] = {block.data()};
        auto buffer = corvanta::AudioBuffer<float>::view(channels, 1, static_cast<uint32_t>(block.size()));
        corvanta::AudioBusArray<1> buses;
        buses.getBus(0).setFormat(format);
        buses.getBus(0).setBuffer(&buffer);
        if (!sink->consume(buses)) throw HostError("the node refused a block of audio");
    }

    InferenceRecord infer(double time, Trigger trigger, NodeLog& log) {
        const corvanta::Result<corvanta::CVAny> answer = node->callAction("infer", {});
        const auto result = corvanta::CVAny::convert<corvanta::CVAnyMap>(answer.value());
        InferenceRecord record;
        record.time = time;
        record.probability = corvanta::CVAny::convert<float>(result.at("probability"));
        record.isTurnComplete = corvanta::CVAny::convert<bool>(result.at("isTurnComplete"));
        record.inferMs = log.takeInferMs();
        record.trigger = trigger;
        return record;
    }

private:
    corvanta::AudioBusFormat format;
    std::unique_ptr<corvanta::Node> node;
    corvanta::AudioSinkNode* sink = nullptr;
};

float peakOf(const std::vector<float>& block) {
    float peak = 0.0f;
    for (const float sample : block) peak = std::max(peak, std::fabs(sample));
    return peak;
}

void writePlot(const DetectOptions& options, const AudioFileReader& audio, std::vector<float> envelope,
               const std::vector<InferenceRecord>& records, float threshold) {
    PlotData plot;
    plot.title = options.file;
    plot.durationSeconds = audio.durationSeconds();
    plot.envelopeStepSeconds = 1.0 / kBlocksPerSecond;
    plot.envelope = std::move(envelope);
    plot.threshold = threshold;
    for (const InferenceRecord& record : records) {
        plot.inferences.push_back({record.time, record.probability, record.isTurnComplete});
    }
    std::ofstream out(options.plotPath, std::ios::binary | std::ios::trunc);
    out << renderSvg(plot);
    out.close();
    if (!out) throw std::runtime_error("cannot write the plot to " + options.plotPath);
}

void printHeader(const DetectOptions& options, const AudioFileReader& audio, float threshold, double pauseMs) {
    char schedule[64];
    if (options.everySeconds) {
        std::snprintf(schedule, sizeof schedule, "every %g s", *options.everySeconds);
    } else {
        std::snprintf(schedule, sizeof schedule, "after pauses of %g ms", pauseMs);
    }
    std::fprintf(stderr, "%s: %.2f s, %d Hz, %d channel(s); threshold %.2f; inferring %s%s\n", options.file.c_str(),
                 audio.durationSeconds(), audio.sampleRate(), audio.channelCount(), threshold, schedule,
                 options.atEnd ? " and at the end" : "");
}

int detect(const DetectOptions& options) {
    AudioFileReader audio(options.file);
    NodeLog log(options.verbose);
    ModuleHost host(options.modulePath.empty() ? ModuleHost::defaultModulePath() : options.modulePath);
    DetectorNode detector(host, options, audio.sampleRate());
    const float threshold = detector.threshold();

    const double pauseMs = options.pauseMs.value_or(kDefaultPauseMs);
    if (!options.json) printHeader(options, audio, threshold, pauseMs);

    const int64_t rate = audio.sampleRate();
    const int64_t everyFrames = options.everySeconds ? std::max<int64_t>(1, std::llround(*options.everySeconds * rate)) : 0;
    int64_t nextEveryFrame = everyFrames;
    PauseGate gate(pauseMs);
    Progress progress(audio.frameCount(), audio.durationSeconds());
    std::vector<InferenceRecord> records;
    std::vector<float> envelope;
    std::vector<float> block;
    int64_t framesFed = 0;

    auto report = [&](Trigger trigger) {
        records.push_back(detector.infer(static_cast<double>(framesFed) / rate, trigger, log));
        progress.clear();
        printRecord(records.back(), options.json);
    };

    // Block k ends at frame (k + 1) * rate / 100, so blocks average exactly 10 ms at any rate.
    for (int64_t blockIndex = 0;; ++blockIndex) {
        const int64_t blockEnd = (blockIndex + 1) * rate / kBlocksPerSecond;
        if (blockEnd == framesFed) continue;
        if (audio.read(block, static_cast<std::size_t>(blockEnd - framesFed)) == 0) break;
        detector.feed(block);
        framesFed += static_cast<int64_t>(block.size());
        envelope.push_back(peakOf(block));
        progress.update(framesFed);

        if (options.everySeconds) {
            if (framesFed >= nextEveryFrame) {
                report(Trigger::Every);
                nextEveryFrame = (framesFed / everyFrames + 1) * everyFrames;
            }
        } else if (gate.update(block.data(), block.size())) {
            report(Trigger::Pause);
        }
    }
    if (options.atEnd) report(Trigger::End);
    progress.clear();

    if (records.empty() && !options.json) {
        std::fprintf(stderr, "no inference ran: no pause of %d ms followed speech (try --at-end or --every)\n",
                     static_cast<int>(pauseMs));
    }
    if (!options.plotPath.empty()) writePlot(options, audio, std::move(envelope), records, threshold);
    return 0;
}

}  // namespace

int runDetect(std::span<char* const> args) {
    DetectOptions options;
    try {
        options = parseOptions(args);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "veyra detect: %s\n%s", error.what(), kUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        return detect(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "veyra detect: %s\n", error.what());
        return 1;
    }
}

}  // namespace veyra::cli
