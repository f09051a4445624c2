#include "corvanta/Node.h"

namespace corvanta {

Node::Node() = default;
Node::~Node() = default;

Result<CVAny> Node::getValue(const std::string& key) {
    return CorvantaObject::getValue(key);
}

Result<CVAny> Node::callAction(const std::string& name, const CVAnyMap& params) {
    return CorvantaObject::callAction(name, params);
}

AudioNode::AudioNode() = default;
AudioNode::~AudioNode() = default;

std::string AudioNode::getDisplayName() const {
    return "Audio Node";
}

void AudioNode::onGraphStart() {}
void AudioNode::onGraphStop() {}

AudioSinkNode::AudioSinkNode() = default;
AudioSinkNode::~AudioSinkNode() = default;

SingleBusAudioSinkNode::SingleBusAudioSinkNode() = default;
SingleBusAudioSinkNode::~SingleBusAudioSinkNode() = default;

bool SingleBusAudioSinkNode::setBusFormats(AudioBusFormatList& formats) {
    if (formats.size() != 1) return false;
    return setBusFormat(formats.front());
}

bool SingleBusAudioSinkNode::consume(AudioBusList& buses) {
    if (buses.getNumberOfBuses() != 1) return false;
    return consumeBus(buses.getBus(0));
}

}  // namespace corvanta
