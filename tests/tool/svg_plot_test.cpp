#include "SvgPlot.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using veyra::cli::escapeXml;
using veyra::cli::PlotData;
using veyra::cli::renderSvg;

TEST(SvgPlot, EscapesMarkupAndDropsControlCharacters) {
    EXPECT_EQ(escapeXml("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&apos;");
    EXPECT_EQ(escapeXml(std::string("x\x01y\tz")), "x?y\tz");
}

TEST(SvgPlot, TitleIsEscapedAndEveryProbabilityIsPlotted) {
    PlotData data;
    data.title = "</title><script>&";
    data.durationSeconds = 2.0;
    data.envelope.assign(200, 0.5f);
    data.inferences = {{0.5, 0.2f, false}, {1.5, 0.9f, true}, {1.9, NAN, false}};
    const std::string svg = renderSvg(data);
    EXPECT_EQ(svg.find("<script>"), std::string::npos);
    EXPECT_NE(svg.find("&lt;/title&gt;&lt;script&gt;&amp;"), std::string::npos);
    EXPECT_EQ(svg.find("nan"), std::string::npos) << "NaN must not reach coordinates";
    std::size_t circles = 0;
    for (std::size_t at = svg.find("<circle"); at != std::string::npos; at = svg.find("<circle", at + 1)) ++circles;
    EXPECT_EQ(circles, 3u);
}

}  // namespace
