#include "corvanta/Audio.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace corvanta {

template <class T>
AudioBuffer<T>::AudioBuffer(uint32_t numChannels, uint32_t numFrames) {
    setSize(numChannels, numFrames);
}

template <class T>
AudioBuffer<T> AudioBuffer<T>::view(T* const* channelPointers, uint32_t numChannels, uint32_t numFrames) {
    if (numChannels > 0 && channelPointers == nullptr) {
        throw std::invalid_argument("AudioBuffer::view: no channel pointers for " + std::to_string(numChannels) +
                                    " channels");
    }
    AudioBuffer buffer;
    buffer.channels.assign(channelPointers, channelPointers + numChannels);
    buffer.frames = numFrames;
    buffer.viewing = true;
    return buffer;
}

template <class T>
AudioBuffer<T>::AudioBuffer(const AudioBuffer& other) {
    *this = other;
}

template <class T>
AudioBuffer<T>& AudioBuffer<T>::operator=(const AudioBuffer& other) {
    if (this == &other) return *this;
    // Copy the samples first: other may view memory that this buffer owns.
    std::vector<T> copied(static_cast<std::size_t>(other.getNumberOfChannels()) * other.frames);
    for (uint32_t channel = 0; channel < other.getNumberOfChannels(); ++channel) {
        std::copy_n(other.channels[channel], other.frames, copied.begin() + std::size_t{channel} * other.frames);
    }
    storage = std::move(copied);
    frames = other.frames;
    viewing = false;
    pointChannelsAtStorage(other.getNumberOfChannels());
    return *this;
}

template <class T>
AudioBuffer<T>::AudioBuffer(AudioBuffer&& other) noexcept
    : storage(std::move(other.storage)),
      channels(std::move(other.channels)),
      frames(std::exchange(other.frames, 0)),
      viewing(std::exchange(other.viewing, false)) {
    other.storage.clear();
    other.channels.clear();
}

template <class T>
AudioBuffer<T>& AudioBuffer<T>::operator=(AudioBuffer&& other) noexcept {
    if (this == &other) return *this;
    // Moving a vector keeps its heap block, so the channel pointers stay valid.
    storage = std::move(other.storage);
    channels = std::move(other.channels);
    frames = std::exchange(other.frames, 0);
    viewing = std::exchange(other.viewing, false);
    other.storage.clear();
    other.channels.clear();
    return *this;
}

template <class T>
void AudioBuffer<T>::setSize(uint32_t numChannels, uint32_t numFrames) {
    if (viewing) throw std::logic_error("AudioBuffer::setSize: a view cannot be resized");
    storage.assign(static_cast<std::size_t>(numChannels) * numFrames, T{});
    frames = numFrames;
    pointChannelsAtStorage(numChannels);
}

template <class T>
void AudioBuffer<T>::pointChannelsAtStorage(uint32_t numChannels) {
    channels.resize(numChannels);
    for (uint32_t channel = 0; channel < numChannels; ++channel) {
        channels[channel] = storage.data() + std::size_t{channel} * frames;
    }
}

// Exported through the extern declaration in the header.
template class AudioBuffer<float>;

}  // namespace corvanta
