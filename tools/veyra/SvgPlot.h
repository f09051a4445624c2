#pragma once

#include <string>
#include <vector>

namespace veyra::cli {

struct PlotInference {
    double time;  // seconds into the file
    float probability;
    bool isTurnComplete;
};

// What `veyra detect --plot` draws: the waveform envelope over time, the
// probability of each inference, the threshold and the detected turn ends.
struct PlotData {
    std::string title;
    double durationSeconds = 0.0;
    double envelopeStepSeconds = 0.01;
    std::vector<float> envelope;  // peak |sample| per step, 0..1
    std::vector<PlotInference> inferences;
    float threshold = 0.5f;
};

// A standalone SVG document.
std::string renderSvg(const PlotData& data);

// Text made safe for SVG/XML character data and attribute values.
std::string escapeXml(const std::string& text);

}  // namespace veyra::cli
