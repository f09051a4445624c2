// `veyra features IN OUT`, run as a user would run it.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "MelFeatureExtractor.h"
#include "TestSignals.h"

namespace {

namespace fs = std::filesystem;
using corvanta::extensions::veyra::kFeatureCount;
using corvanta::extensions::veyra::kWindowSamples;
using corvanta::extensions::veyra::MelFeatureExtractor;

struct RunResult {
    int exitCode;
    std::string errors;
};

class FeaturesCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory = fs::temp_directory_path() /
                    ("veyra_features_" + std::to_string(::getpid()) + "_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(directory);
    }
    void TearDown() override { fs::remove_all(directory); }

    fs::path path(const char* name) const { return directory / name; }

    // This machine is little-endian, as the file format is.
    static void writeSamples(const fs::path& file, const std::vector<float>& samples) {
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 4));
    }

    static std::vector<float> readFeatures(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<float> values(bytes.size() / 4);
        std::memcpy(values.data(), bytes.data(), values.size() * 4);
        return values;
    }

    RunResult run(const std::string& arguments) const {
        const fs::path errors = directory / "stderr.txt";
        const std::string command =
            std::string("'") + VEYRA_TOOL_PATH + "' features " + arguments + " 2>'" + errors.string() + "'";
        const int status = std::system(command.c_str());
        std::ifstream in(errors);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>())};
    }

    RunResult run(const fs::path& in, const fs::path& out) const {
        std::string arguments = "'";
        arguments += in.string();
        arguments += "' '";
        arguments += out.string();
        arguments += "'";
        return run(arguments);
    }

    static std::vector<float> expectedFor(const std::vector<float>& window) {
        std::vector<float> features(kFeatureCount);
        MelFeatureExtractor().computeLogMel(window.data(), features.data());
        return features;
    }

    fs::path directory;
};

TEST_F(FeaturesCommandTest, ShortRecordingIsRightAlignedBehindZeros) {
    const std::vector<float> window = veyra_test::rightAlignedNoise(20000, 0.2f, 3u);
    writeSamples(path("in.f32"), std::vector<float>(window.end() - 20000, window.end()));

    const RunResult result = run(path("in.f32"), path("out.f32"));
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    const std::vector<float> features = readFeatures(path("out.f32"));
    ASSERT_EQ(features.size(), static_cast<std::size_t>(kFeatureCount));
    EXPECT_EQ(std::memcmp(features.data(), expectedFor(window).data(), kFeatureCount * 4), 0);
}

TEST_F(FeaturesCommandTest, LongRecordingUsesTheNewestEightSeconds) {
    const std::vector<float> window = veyra_test::whiteNoise(0.2f, 4u);
    std::vector<float> recording(3000, 1000.0f);  // older audio that must not count
    recording.insert(recording.end(), window.begin(), window.end());
    writeSamples(path("in.f32"), recording);

    ASSERT_EQ(run(path("in.f32"), path("out.f32")).exitCode, 0);
    EXPECT_EQ(std::memcmp(readFeatures(path("out.f32")).data(), expectedFor(window).data(), kFeatureCount * 4), 0);
}

TEST_F(FeaturesCommandTest, NonFiniteSamplesAreReadAsZeroWithAWarning) {
    std::vector<float> window = veyra_test::whiteNoise(0.2f, 5u);
    window[1000] = 0.0f;
    window[90000] = 0.0f;
    std::vector<float> recording = window;
    recording[1000] = std::numeric_limits<float>::quiet_NaN();
    recording[90000] = -std::numeric_limits<float>::infinity();
    writeSamples(path("in.f32"), recording);

    const RunResult result = run(path("in.f32"), path("out.f32"));
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_NE(result.errors.find("2 non-finite samples"), std::string::npos) << result.errors;
    EXPECT_EQ(std::memcmp(readFeatures(path("out.f32")).data(), expectedFor(window).data(), kFeatureCount * 4), 0);
}

TEST_F(FeaturesCommandTest, UnusableInputIsRefusedWithoutWritingOutput) {
    std::ofstream(path("empty.f32"), std::ios::binary);
    std::ofstream(path("odd.f32"), std::ios::binary).write("1234567", 7);
    fs::create_directory(path("folder.f32"));
    const struct {
        const char* input;
        const char* expectedMessage;
    } cases[] = {
        {"missing.f32", "cannot read"},
        {"empty.f32", "is empty"},
        {"odd.f32", "not a whole number of float32 samples"},
        {"folder.f32", "not a regular file"},
    };
    for (const auto& c : cases) {
        const RunResult result = run(path(c.input), path("out.f32"));
        EXPECT_NE(result.exitCode, 0) << c.input;
        EXPECT_NE(result.errors.find(c.expectedMessage), std::string::npos) << c.input << ": " << result.errors;
        EXPECT_NE(result.errors.find(path(c.input).string()), std::string::npos) << c.input << ": " << result.errors;
        EXPECT_FALSE(fs::exists(path("out.f32"))) << c.input;
    }
}

TEST_F(FeaturesCommandTest, UnwritableOutputFails) {
    writeSamples(path("in.f32"), std::vector<float>(1600, 0.1f));
    const RunResult result = run(path("in.f32"), path("no-such-folder") / "out.f32");
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.errors.find("cannot write"), std::string::npos) << result.errors;
}

TEST_F(FeaturesCommandTest, WrongArgumentCountPrintsUsage) {
    const RunResult result = run("only-one.f32");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.errors.find("usage: veyra features"), std::string::npos) << result.errors;
}

}  // namespace
