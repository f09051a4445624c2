#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "corvanta/Export.h"

namespace corvanta {

// Planar audio: channels x frames. Either owns its samples or views samples
// owned elsewhere (a view never frees or reallocates them).
template <class T>
class AudioBuffer {
public:
    AudioBuffer() = default;
    // Owning, zero-filled.
    AudioBuffer(uint32_t numChannels, uint32_t numFrames);
    // Viewing: channelPointers[c] points at numFrames samples of channel c.
    static AudioBuffer view(T* const* channelPointers, uint32_t numChannels, uint32_t numFrames);

    AudioBuffer(const AudioBuffer& other);             // deep copy; the copy owns
    AudioBuffer& operator=(const AudioBuffer& other);  // deep copy; the copy owns
    AudioBuffer(AudioBuffer&& other) noexcept;             // leaves other empty
    AudioBuffer& operator=(AudioBuffer&& other) noexcept;  // leaves other empty

    uint32_t getNumberOfChannels() const { return static_cast<uint32_t>(channels.size()); }
    uint32_t getNumberOfFrames() const { return frames; }
    bool isView() const { return viewing; }

    const T* getReadPointer(uint32_t channel) const { return channels.at(channel); }
    T* getWritePointer(uint32_t channel) { return channels.at(channel); }

    // Resizes and zero-fills; keeps the allocation when it is large enough.
    // A view cannot be resized: throws std::logic_error.
    void setSize(uint32_t numChannels, uint32_t numFrames);

private:
    void pointChannelsAtStorage(uint32_t numChannels);

    std::vector<T> storage;
    std::vector<T*> channels;
    uint32_t frames = 0;
    bool viewing = false;
};

extern template class CORVANTA_API AudioBuffer<float>;

struct AudioBusFormat {
    uint32_t numChannels = 0;
    uint32_t sampleRate = 0;  // Hz; 0 means unknown

    uint32_t getNumberOfChannels() const { return numChannels; }
    uint32_t getSampleRate() const { return sampleRate; }
    bool operator==(const AudioBusFormat&) const = default;
};

using AudioBusFormatList = std::vector<AudioBusFormat>;

// A buffer and its format. The bus refers to the buffer; it never owns it.
class CORVANTA_API AudioBus {
public:
    AudioBuffer<float>* getBuffer() const { return buffer; }
    void setBuffer(AudioBuffer<float>* newBuffer) { buffer = newBuffer; }
    const AudioBusFormat& getFormat() const { return format; }
    void setFormat(const AudioBusFormat& newFormat) { format = newFormat; }

private:
    AudioBuffer<float>* buffer = nullptr;
    AudioBusFormat format;
};

class CORVANTA_API AudioBusList {
public:
    virtual ~AudioBusList() = default;
    virtual uint32_t getNumberOfBuses() const = 0;
    // Throws std::out_of_range for an index past the end.
    virtual AudioBus& getBus(uint32_t index) = 0;
};

template <std::size_t N>
class AudioBusArray final : public AudioBusList {
public:
    uint32_t getNumberOfBuses() const override { return static_cast<uint32_t>(N); }
    AudioBus& getBus(uint32_t index) override { return buses.at(index); }

private:
    std::array<AudioBus, N> buses{};
};

// A list whose length is chosen at run time.
class CORVANTA_API AudioBusVector final : public AudioBusList {
public:
    explicit AudioBusVector(uint32_t numBuses = 0) : buses(numBuses) {}
    uint32_t getNumberOfBuses() const override { return static_cast<uint32_t>(buses.size()); }
    AudioBus& getBus(uint32_t index) override { return buses.at(index); }

private:
    std::vector<AudioBus> buses;
};

}  // namespace corvanta
