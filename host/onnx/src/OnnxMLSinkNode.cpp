#include "corvanta/onnx/OnnxMLSinkNode.h"

namespace corvanta::extensions::onnx {

OnnxMLSinkNode::OnnxMLSinkNode() = default;
OnnxMLSinkNode::~OnnxMLSinkNode() = default;

}  // namespace corvanta::extensions::onnx
