// The embedded model image is the model file, byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "EmbeddedModel.h"

namespace {

using corvanta::extensions::veyra::kEmbeddedModelData;
using corvanta::extensions::veyra::kEmbeddedModelSize;

TEST(EmbeddedModel, ImageMatchesTheModelFile) {
    std::ifstream file(VEYRA_EMBEDDED_MODEL_FILE, std::ios::binary);
    ASSERT_TRUE(file) << VEYRA_EMBEDDED_MODEL_FILE;
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_EQ(kEmbeddedModelSize, bytes.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), kEmbeddedModelData));
}

}  // namespace
