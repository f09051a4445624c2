#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

#include "corvanta/Audio.h"

using corvanta::AudioBuffer;

TEST(AudioBufferTest, OwningBufferIsZeroFilledPlanar) {
    AudioBuffer<float> buffer(2, 3);
    EXPECT_FALSE(buffer.isView());
    EXPECT_EQ(buffer.getNumberOfChannels(), 2u);
    EXPECT_EQ(buffer.getNumberOfFrames(), 3u);
    buffer.getWritePointer(1)[2] = 7.0f;
    EXPECT_EQ(buffer.getReadPointer(0)[2], 0.0f);
    EXPECT_EQ(buffer.getReadPointer(1)[2], 7.0f);
    EXPECT_THROW(buffer.getReadPointer(2), std::out_of_range);
}

TEST(AudioBufferTest, ViewSharesSamplesAndItsCopyOwnsThem) {
    float left[2] = {1.0f, 2.0f};
    float right[2] = {3.0f, 4.0f};
    float* pointers[2] = {left, right};
    auto view = AudioBuffer<float>::view(pointers, 2, 2);
    EXPECT_TRUE(view.isView());
    EXPECT_EQ(view.getReadPointer(1), right);
    EXPECT_THROW(view.setSize(1, 1), std::logic_error);

    AudioBuffer<float> copy = view;
    left[0] = 9.0f;
    EXPECT_FALSE(copy.isView());
    EXPECT_EQ(copy.getReadPointer(0)[0], 1.0f);
    EXPECT_EQ(copy.getReadPointer(1)[1], 4.0f);
}

TEST(AudioBufferTest, EmptyOwningBufferIsNotAView) {
    AudioBuffer<float> buffer(1, 0);
    EXPECT_FALSE(buffer.isView());
    EXPECT_EQ(buffer.getNumberOfChannels(), 1u);
}

TEST(AudioBufferTest, MoveKeepsSamplesAndEmptiesTheSource) {
    AudioBuffer<float> source(1, 4);
    source.getWritePointer(0)[3] = 5.0f;
    AudioBuffer<float> moved = std::move(source);
    EXPECT_EQ(moved.getReadPointer(0)[3], 5.0f);
    EXPECT_EQ(source.getNumberOfChannels(), 0u);  // NOLINT(bugprone-use-after-move): documented state
    EXPECT_EQ(source.getNumberOfFrames(), 0u);
}
