#!/usr/bin/python3
"""Writes the small ONNX models the host-runtime and node tests load.

Run with Debian's interpreter (python3-onnx 1.12, python3-numpy):
    /usr/bin/python3 tests/models/make_test_models.py [OUTPUT_DIR]
The output defaults to the directory of this script, where the generated
files are checked in. Every model is deterministic; README.md lists them.
"""

import os
import sys

from onnx import TensorProto, checker, helper, numpy_helper
import numpy as np

OPSET = 17  # newest operator set python3-onnx 1.12 knows; ONNX Runtime loads it
IR_VERSION = 8

# Formula of contract.onnx: logits = Sigmoid(mean(x) * SCALE + BIAS). The
# tests recompute the expected probability from these two constants.
CONTRACT_SCALE = 1.5
CONTRACT_BIAS = 0.25

# multi_value.onnx answers these three values for every batch item; only the
# first is above 0.5, so a caller that reads any other value is caught.
MULTI_VALUES = [0.75, 0.25, 0.125]

FEATURES = "input_features"


def features_input(name=FEATURES):
    return helper.make_tensor_value_info(name, TensorProto.FLOAT, ["batch", 80, 800])


def output(name, *dims):
    return helper.make_tensor_value_info(name, TensorProto.FLOAT, ["batch", *dims])


def const(name, values, dtype=np.float32):
    return numpy_helper.from_array(np.array(values, dtype=dtype), name)


def mean_nodes(source, result):
    """Nodes turning source [batch, 80, 800] into its mean per item [batch, 1]."""
    return [
        helper.make_node("Reshape", [source, "flat_shape"], ["flat"]),
        helper.make_node("ReduceMean", ["flat"], [result], axes=[1], keepdims=1),
    ]


def mean_initialisers():
    return [const("flat_shape", [0, -1], np.int64)]


def contract_nodes(source, result):
    """Sigmoid(mean(source) * CONTRACT_SCALE + CONTRACT_BIAS) as [batch, 1]."""
    return mean_nodes(source, "mean") + [
        helper.make_node("Mul", ["mean", "scale"], ["scaled"]),
        helper.make_node("Add", ["scaled", "bias"], ["shifted"]),
        helper.make_node("Sigmoid", ["shifted"], [result]),
    ]


def contract_initialisers():
    return mean_initialisers() + [const("scale", CONTRACT_SCALE), const("bias", CONTRACT_BIAS)]


def model(name, nodes, inputs, outputs, initialisers):
    graph = helper.make_graph(nodes, name, inputs, outputs, initialisers)
    result = helper.make_model(
        graph,
        producer_name="veyra-test-models",
        opset_imports=[helper.make_operatorsetid("", OPSET)],
    )
    result.ir_version = IR_VERSION
    return result


def contract_model():
    return model("contract", contract_nodes(FEATURES, "logits"),
                 [features_input()], [output("logits", 1)], contract_initialisers())


def half_model():
    # 0 * sum + 0.5 is exactly 0.5 for every finite input, independent of how
    # the runtime approximates a sigmoid.
    nodes = [
        helper.make_node("ReduceSum", [FEATURES, "axes"], ["sum"], keepdims=0),
        helper.make_node("Unsqueeze", ["sum", "last_axis"], ["sum_column"]),
        helper.make_node("Mul", ["sum_column", "zero"], ["nothing"]),
        helper.make_node("Add", ["nothing", "half"], ["logits"]),
    ]
    initialisers = [const("axes", [1, 2], np.int64), const("last_axis", [1], np.int64),
                    const("zero", 0.0), const("half", 0.5)]
    return model("half", nodes, [features_input()], [output("logits", 1)], initialisers)


def other_name_model():
    nodes = contract_nodes(FEATURES, "score") + [
        helper.make_node("Identity", ["mean"], ["feature_mean"]),
    ]
    return model("other_name", nodes, [features_input()],
                 [output("score", 1), output("feature_mean", 1)], contract_initialisers())


def multi_value_model():
    nodes = mean_nodes(FEATURES, "mean") + [
        helper.make_node("Mul", ["mean", "zero"], ["nothing"]),
        helper.make_node("Add", ["nothing", "values"], ["logits"]),
    ]
    initialisers = mean_initialisers() + [const("zero", 0.0), const("values", [MULTI_VALUES])]
    return model("multi_value", nodes, [features_input()], [output("logits", 3)], initialisers)


def no_outputs_model():
    # A graph whose output list is empty; the node computes nothing anyone reads.
    nodes = [helper.make_node("Identity", [FEATURES], ["unused"])]
    return model("no_outputs", nodes, [features_input()], [], [])


def wrong_input_model():
    return model("wrong_input", contract_nodes("features", "logits"),
                 [features_input("features")], [output("logits", 1)], contract_initialisers())


def empty_output_model():
    nodes = mean_nodes(FEATURES, "mean") + [
        helper.make_node("Slice", ["mean", "start", "start", "axis"], ["logits"]),
    ]
    initialisers = mean_initialisers() + [const("start", [0], np.int64), const("axis", [1], np.int64)]
    return model("empty_output", nodes, [features_input()], [output("logits", 0)], initialisers)


MODELS = {
    "contract.onnx": contract_model,
    "half.onnx": half_model,
    "other_name.onnx": other_name_model,
    "multi_value.onnx": multi_value_model,
    "no_outputs.onnx": no_outputs_model,
    "wrong_input.onnx": wrong_input_model,
    "empty_output.onnx": empty_output_model,
}

# Not a protobuf at all: the runtime must refuse it with a message.
NOT_A_MODEL = b"this is not an ONNX model\x00\xff\xfe\x01"


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for file_name, build in MODELS.items():
        m = build()
        checker.check_model(m, full_check=True)
        with open(os.path.join(out_dir, file_name), "wb") as f:
            f.write(m.SerializeToString())
    with open(os.path.join(out_dir, "not_a_model.onnx"), "wb") as f:
        f.write(NOT_A_MODEL)


if __name__ == "__main__":
    main()
