#!/usr/bin/python3
"""Writes veyra_end_of_turn.onnx: a tiny UNTRAINED stand-in classifier.

It meets the model contract the module relies on (input "input_features"
float [batch, 80, 800], first output "logits" [batch, 1], ending in a
Sigmoid so the value is a probability) but its weights are seeded random
numbers: its answers carry no meaning about turns. The trained model replaces
the file under the same name.

Run with Debian's interpreter (python3-onnx 1.12, python3-numpy):
    /usr/bin/python3 models/make_placeholder_model.py [OUTPUT_FILE]
"""

import os
import sys

from onnx import TensorProto, checker, helper, numpy_helper
import numpy as np

SEED = 20240611
MEL_BANDS = 80
FRAMES = 800
CHANNELS = 16
KERNEL = 3


def weights(rng):
    """Seeded weights, scaled like a fresh layer so activations stay moderate."""
    conv_w = rng.normal(0.0, 1.0 / np.sqrt(MEL_BANDS * KERNEL), (CHANNELS, MEL_BANDS, KERNEL))
    conv_b = np.zeros(CHANNELS)
    dense_w = rng.normal(0.0, 1.0 / np.sqrt(CHANNELS), (1, CHANNELS))
    dense_b = np.zeros(1)
    arrays = {"conv_w": conv_w, "conv_b": conv_b, "dense_w": dense_w, "dense_b": dense_b,
              "sqrt2": np.array(np.sqrt(2.0)), "one": np.array(1.0), "half": np.array(0.5)}
    return [numpy_helper.from_array(a.astype(np.float32), name) for name, a in arrays.items()]


def gelu_nodes(source, result):
    """Exact GELU: x * 0.5 * (1 + erf(x / sqrt(2)))."""
    return [
        helper.make_node("Div", [source, "sqrt2"], ["gelu_scaled"]),
        helper.make_node("Erf", ["gelu_scaled"], ["gelu_erf"]),
        helper.make_node("Add", ["gelu_erf", "one"], ["gelu_gate"]),
        helper.make_node("Mul", [source, "gelu_gate"], ["gelu_gated"]),
        helper.make_node("Mul", ["gelu_gated", "half"], [result]),
    ]


def build():
    nodes = [
        # 1-D convolution over frames: 80 mel bands in, CHANNELS out, same length.
        helper.make_node("Conv", ["input_features", "conv_w", "conv_b"], ["conv"],
                         kernel_shape=[KERNEL], pads=[1, 1], strides=[1]),
        *gelu_nodes("conv", "activated"),
        # Mean over the frames: [batch, CHANNELS].
        helper.make_node("ReduceMean", ["activated"], ["pooled"], axes=[2], keepdims=0),
        helper.make_node("Gemm", ["pooled", "dense_w", "dense_b"], ["score"], transB=1),
        helper.make_node("Sigmoid", ["score"], ["logits"]),
    ]
    graph = helper.make_graph(
        nodes, "main_graph",
        [helper.make_tensor_value_info("input_features", TensorProto.FLOAT, ["batch", MEL_BANDS, FRAMES])],
        [helper.make_tensor_value_info("logits", TensorProto.FLOAT, ["batch", 1])],
        weights(np.random.default_rng(SEED)))
    model = helper.make_model(graph, producer_name="veyra-placeholder",
                              opset_imports=[helper.make_operatorsetid("", 17)])
    model.ir_version = 8
    model.doc_string = "Untrained placeholder end-of-turn classifier (random weights)."
    checker.check_model(model, full_check=True)
    return model


def main():
    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), "veyra_end_of_turn.onnx")
    path = sys.argv[1] if len(sys.argv) > 1 else default
    with open(path, "wb") as f:
        f.write(build().SerializeToString())


if __name__ == "__main__":
    main()
