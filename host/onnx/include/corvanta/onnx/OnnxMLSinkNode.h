#pragma once

#include "corvanta/Export.h"
#include "corvanta/Node.h"

namespace corvanta::extensions::onnx {

// Base of audio sink nodes that run an ONNX model.
class CORVANTA_API OnnxMLSinkNode : public SingleBusAudioSinkNode {
protected:
    OnnxMLSinkNode();
    ~OnnxMLSinkNode() override;
};

}  // namespace corvanta::extensions::onnx
