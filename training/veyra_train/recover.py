"""The network's weights read back out of a model file this package exported.

Run folders are scratch space and do not outlive the machine they trained on;
the shipped model does. Reading its weights back lets a new run fine-tune the
shipped network itself instead of retraining it from scratch for hours.

An int8 model yields its dequantised weights (integer value times channel
scale): exactly the weights its QDQ arithmetic computes with, so the network
recovered from it answers as the int8 model does, less activation rounding.

Parameters are found by position, not by name guessing: a probe network whose
every parameter holds distinct values is exported the same way, and each
parameter is located among the probe graph's constant operator inputs
(as stored, or transposed, as MatMul stores Linear weights). The model file's
node of the same name and input slot then holds that parameter.
"""
import numpy as np
import onnx
import torch
from onnx import numpy_helper

from .export import export_float
from .graph_eval import dequantize
from .model import EndOfTurnNet
from .quantize import simplify


def _constant_inputs(model: onnx.ModelProto):
    """{(node name, input slot): float array} for every operator input that is
    a constant, dequantised where the file stores it as integers."""
    readable = onnx.ModelProto()
    readable.CopyFrom(model)
    model = simplify(readable)  # the exporter may leave Constant and Identity nodes
    stored = {init.name: numpy_helper.to_array(init) for init in model.graph.initializer}
    for node in model.graph.node:
        if node.op_type == "DequantizeLinear" and node.input[0] in stored:
            stored[node.output[0]] = _dequantise(node, stored)
    constants = {}
    for node in model.graph.node:
        if node.op_type in ("QuantizeLinear", "DequantizeLinear"):
            continue
        for slot, name in enumerate(node.input):
            if name in stored and stored[name].ndim > 0:
                constants[(node.name, slot)] = stored[name].astype(np.float32)
    return constants


def _dequantise(node, stored):
    values, scale, zero_point = (torch.from_numpy(np.array(stored[name])) for name in node.input[:3])
    axis = next((a.i for a in node.attribute if a.name == "axis"), 1)
    return dequantize(values, scale, zero_point, axis).numpy()


def _parameter_slots():
    """{parameter name: ((node name, input slot), transposed)} of the exported graph."""
    torch.manual_seed(0)
    probe = EndOfTurnNet()
    with torch.no_grad():
        for parameter in probe.parameters():
            parameter.copy_(torch.randn_like(parameter))
    constants = _constant_inputs(export_float(probe))
    slots = {}
    for name, parameter in probe.state_dict().items():
        value = parameter.numpy()
        layouts = ((False, value), (True, value.T)) if value.ndim > 1 else ((False, value),)
        found = [(key, transposed) for key, array in constants.items() for transposed, candidate in layouts
                 if array.shape == candidate.shape and np.array_equal(array, candidate)]
        if len(found) != 1:
            raise RuntimeError(f"parameter {name} appears {len(found)} times in the exported graph")
        slots[name] = found[0]
    return slots


def recover_network(model: onnx.ModelProto) -> EndOfTurnNet:
    """The network whose export (and, for an int8 file, quantisation) gave `model`."""
    constants = _constant_inputs(model)
    state = {}
    for name, (key, transposed) in _parameter_slots().items():
        if key not in constants:
            raise ValueError(f"the model has no constant at {key[0]} input {key[1]} for {name}: "
                             "not a graph of this network")
        value = constants[key]
        state[name] = torch.from_numpy(np.ascontiguousarray(value.T if transposed else value))
    network = EndOfTurnNet()
    network.load_state_dict(state)
    return network.eval()
