#pragma once

namespace corvanta::extensions::veyra {

// The outcome of one "infer": the model's probability that the speaker's turn
// is complete, and that probability compared against the node's threshold.
// The default value is also the answer of every failed inference.
struct TurnResult {
    float probability = 0.0f;
    bool isTurnComplete = false;
};

}  // namespace corvanta::extensions::veyra
