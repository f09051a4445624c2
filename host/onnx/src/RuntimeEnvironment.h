#pragma once

#include <memory>

#include <onnxruntime_cxx_api.h>

namespace corvanta::extensions::onnx {

// The one ONNX Runtime environment of the process, with its global thread
// pool. Every session holds a reference, so the environment outlives the last
// session whatever order static objects are destroyed in.
std::shared_ptr<Ort::Env> sharedEnvironment();

// Session options for a session that runs on the environment's global pool.
Ort::SessionOptions sharedPoolSessionOptions();

}  // namespace corvanta::extensions::onnx
