#include "SvgPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace veyra::cli {

namespace {

constexpr double kWidth = 1000.0;
constexpr double kLeft = 60.0;
constexpr double kRight = 20.0;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
// Two panels stacked: the waveform on top, the probability below.
constexpr double kWaveTop = 40.0;
constexpr double kWaveHeight = 120.0;
constexpr double kProbTop = 190.0;
constexpr double kProbHeight = 160.0;
constexpr double kHeight = 400.0;

// Coordinates: two decimals are finer than any screen.
std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// Values shown to the reader, without trailing zeros.
std::string label(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

class Layout {
public:
    explicit Layout(double durationSeconds) : duration(durationSeconds > 0.0 ? durationSeconds : 1.0) {}
    double x(double seconds) const { return kLeft + kPlotWidth * std::clamp(seconds / duration, 0.0, 1.0); }
    static double probabilityY(double p) {
        // A probability outside 0..1 (or NaN) is pinned to the panel's edge.
        const double clamped = std::isnan(p) ? 0.0 : std::clamp(p, 0.0, 1.0);
        return kProbTop + kProbHeight * (1.0 - clamped);
    }

private:
    double duration;
};

// The envelope as a closed shape mirrored about the panel's centre line,
// with at most one point per horizontal pixel.
std::string envelopePath(const PlotData& data, const Layout& layout) {
    if (data.envelope.empty()) return {};
    const std::size_t columns = std::min<std::size_t>(data.envelope.size(), static_cast<std::size_t>(kPlotWidth));
    const double centre = kWaveTop + kWaveHeight / 2.0;
    std::vector<double> peaks(columns, 0.0);
    for (std::size_t i = 0; i < data.envelope.size(); ++i) {
        const std::size_t column = i * columns / data.envelope.size();
        peaks[column] = std::max(peaks[column], static_cast<double>(std::min(data.envelope[i], 1.0f)));
    }
    const double stepsPerColumn = static_cast<double>(data.envelope.size()) / static_cast<double>(columns);
    auto columnX = [&](std::size_t column) {
        return layout.x(static_cast<double>(column) * stepsPerColumn * data.envelopeStepSeconds);
    };
    auto lineTo = [](std::string& path, double x, double y) {
        path += path.empty() ? "M" : " L";
        path += number(x);
        path += ',';
        path += number(y);
    };
    std::string path;
    lineTo(path, columnX(0), centre);
    for (std::size_t c = 0; c < columns; ++c) lineTo(path, columnX(c), centre - peaks[c] * kWaveHeight / 2.0);
    for (std::size_t c = columns; c-- > 0;) lineTo(path, columnX(c), centre + peaks[c] * kWaveHeight / 2.0);
    return path + " Z";
}

std::string probabilityMarks(const PlotData& data, const Layout& layout) {
    std::string marks;
    std::string line;
    for (const PlotInference& inference : data.inferences) {
        const std::string x = number(layout.x(inference.time));
        const std::string y = number(Layout::probabilityY(inference.probability));
        line += (line.empty() ? "" : " ") + x + "," + y;
        marks += "<circle cx=\"" + x + "\" cy=\"" + y + "\" r=\"3.5\" fill=\"" +
                 (inference.isTurnComplete ? "#c0392b" : "#2c7fb8") + "\"/>\n";
    }
    if (data.inferences.size() > 1) {
        marks = "<polyline points=\"" + line + "\" fill=\"none\" stroke=\"#2c7fb8\" stroke-width=\"1\"/>\n" + marks;
    }
    return marks;
}

std::string turnEndLines(const PlotData& data, const Layout& layout) {
    std::string lines;
    for (const PlotInference& inference : data.inferences) {
        if (!inference.isTurnComplete) continue;
        const std::string x = number(layout.x(inference.time));
        lines += "<line x1=\"" + x + "\" y1=\"" + number(kWaveTop) + "\" x2=\"" + x + "\" y2=\"" +
                 number(kProbTop + kProbHeight) + "\" stroke=\"#c0392b\" stroke-width=\"1.5\"/>\n";
    }
    return lines;
}

std::string axes(const PlotData& data, const Layout& layout) {
    std::string svg;
    svg += "<rect x=\"" + number(kLeft) + "\" y=\"" + number(kWaveTop) + "\" width=\"" + number(kPlotWidth) +
           "\" height=\"" + number(kWaveHeight) + "\" fill=\"none\" stroke=\"#999\"/>\n";
    svg += "<rect x=\"" + number(kLeft) + "\" y=\"" + number(kProbTop) + "\" width=\"" + number(kPlotWidth) +
           "\" height=\"" + number(kProbHeight) + "\" fill=\"none\" stroke=\"#999\"/>\n";
    svg += "<text x=\"" + number(kLeft - 8) + "\" y=\"" + number(kProbTop + 4) + "\" text-anchor=\"end\">1</text>\n";
    svg += "<text x=\"" + number(kLeft - 8) + "\" y=\"" + number(kProbTop + kProbHeight + 4) +
           "\" text-anchor=\"end\">0</text>\n";
    const double tickStep = std::max(1.0, std::ceil(data.durationSeconds / 10.0));
    for (double t = 0.0; t <= data.durationSeconds + 1e-9; t += tickStep) {
        svg += "<text x=\"" + number(layout.x(t)) + "\" y=\"" + number(kProbTop + kProbHeight + 18) +
               "\" text-anchor=\"middle\">" + label(t) + "</text>\n";
    }
    const double thresholdY = Layout::probabilityY(data.threshold);
    svg += "<line x1=\"" + number(kLeft) + "\" y1=\"" + number(thresholdY) + "\" x2=\"" + number(kLeft + kPlotWidth) +
           "\" y2=\"" + number(thresholdY) + "\" stroke=\"#555\" stroke-dasharray=\"6,4\"/>\n";
    svg += "<text x=\"" + number(kLeft + kPlotWidth) + "\" y=\"" + number(thresholdY - 4) +
           "\" text-anchor=\"end\">threshold " + label(data.threshold) + "</text>\n";
    return svg;
}

}  // namespace

std::string escapeXml(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '"': escaped += "&quot;"; break;
            case '\'': escaped += "&apos;"; break;
            default:
                // Control characters other than tab and newlines are not allowed in XML 1.0.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                    escaped += '?';
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

std::string renderSvg(const PlotData& data) {
    const Layout layout(data.durationSeconds);
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(kWidth) + "\" height=\"" + number(kHeight) +
           "\" viewBox=\"0 0 " + number(kWidth) + " " + number(kHeight) +
           "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    svg += "<title>" + escapeXml(data.title) + "</title>\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + number(kLeft) + "\" y=\"24\" font-size=\"14\">" + escapeXml(data.title) + "</text>\n";
    svg += "<path d=\"" + envelopePath(data, layout) + "\" fill=\"#8fa8bf\" stroke=\"none\"/>\n";
    svg += axes(data, layout);
    svg += turnEndLines(data, layout);
    svg += probabilityMarks(data, layout);
    svg += "<text x=\"" + number(kLeft) + "\" y=\"" + number(kHeight - 12) +
           "\">time (s); dots: turn-end probability per inference, red: turn complete</text>\n";
    return svg + "</svg>\n";
}

}  // namespace veyra::cli
