#pragma once

#include <string>

#include "corvanta/Audio.h"
#include "corvanta/Export.h"
#include "corvanta/Object.h"

namespace corvanta {

class CORVANTA_API Node : public CorvantaObject {
public:
    ~Node() override;
    Result<CVAny> getValue(const std::string& key) override;
    Result<CVAny> callAction(const std::string& name, const CVAnyMap& params) override;

protected:
    Node();
};

class CORVANTA_API AudioNode : public Node {
public:
    ~AudioNode() override;
    virtual std::string getDisplayName() const;
    virtual void onGraphStart();
    virtual void onGraphStop();

protected:
    AudioNode();
};

class CORVANTA_API AudioSinkNode : public AudioNode {
public:
    ~AudioSinkNode() override;
    // Return false when the formats (or the audio) cannot be taken.
    virtual bool setBusFormats(AudioBusFormatList& formats) = 0;
    virtual bool consume(AudioBusList& buses) = 0;

protected:
    AudioSinkNode();
};

// A sink with exactly one input bus: the list-level operations check that
// exactly one bus arrives and hand it to the single-bus operations.
class CORVANTA_API SingleBusAudioSinkNode : public AudioSinkNode {
public:
    ~SingleBusAudioSinkNode() override;
    bool setBusFormats(AudioBusFormatList& formats) override;
    bool consume(AudioBusList& buses) override;

    virtual bool setBusFormat(AudioBusFormat& format) = 0;
    virtual bool consumeBus(AudioBus& bus) = 0;

protected:
    SingleBusAudioSinkNode();
};

}  // namespace corvanta
