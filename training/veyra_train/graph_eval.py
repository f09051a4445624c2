"""A small evaluator for the ONNX graphs this package writes.

The training machine has no Python ONNX Runtime, yet calibration needs every
intermediate tensor of the exported graph by its ONNX name. This evaluator runs
the handful of operators the end-of-turn graph uses with torch, and also the
QuantizeLinear/DequantizeLinear pairs, so a quantised graph can be checked
quickly here before the real runtime sees it.
"""
import numpy as np
import onnx
import torch
import torch.nn.functional as F
from onnx import numpy_helper


def node_attributes(node):
    """A node's attributes by name, as Python values."""
    return {a.name: onnx.helper.get_attribute_value(a) for a in node.attribute}


def _reshape(x, shape):
    dims = [int(d) for d in shape.tolist()]
    dims = [x.shape[i] if d == 0 else d for i, d in enumerate(dims)]
    return x.reshape(dims)


def _quantize(x, scale, zero_point, axis):
    dtype_range = (0, 255) if zero_point.dtype == torch.uint8 else (-128, 127)
    if zero_point.dtype == torch.int32:
        dtype_range = (-2**31, 2**31 - 1)
    shape = [1] * x.dim()
    if scale.numel() > 1:
        shape[axis] = -1
    q = torch.round(x / scale.reshape(shape)) + zero_point.to(torch.float32).reshape(shape)
    return q.clamp(*dtype_range)


def dequantize(q, scale, zero_point, axis):
    """DequantizeLinear: (q - zero_point) * scale, per channel along `axis` where
    scale has more than one value."""
    shape = [1] * q.dim()
    if scale.numel() > 1:
        shape[axis] = -1
    zp = zero_point.to(torch.float64).reshape(shape)
    return ((q.to(torch.float64) - zp) * scale.to(torch.float64).reshape(shape)).to(torch.float32)


def _run_node(node, args):
    attrs = node_attributes(node)
    op = node.op_type
    if op == "Conv":
        bias = args[2] if len(args) > 2 else None
        return F.conv1d(args[0], args[1], bias, stride=attrs.get("strides", [1])[0],
                        padding=attrs.get("pads", [0, 0])[0])
    if op in ("Add", "Mul", "Div", "MatMul"):
        fn = {"Add": torch.add, "Mul": torch.mul, "Div": torch.div, "MatMul": torch.matmul}[op]
        return fn(args[0], args[1])
    if op == "Erf":
        return torch.erf(args[0])
    if op == "Tanh":
        return torch.tanh(args[0])
    if op == "Sigmoid":
        return torch.sigmoid(args[0])
    if op == "Transpose":
        return args[0].permute(*attrs["perm"])
    if op == "Reshape":
        return _reshape(args[0], args[1])
    if op == "LayerNormalization":
        return F.layer_norm(args[0], args[1].shape, args[1], args[2], attrs.get("epsilon", 1e-5))
    if op == "Softmax":
        return torch.softmax(args[0], dim=attrs.get("axis", -1))
    if op == "ReduceSum":
        axes = [int(a) for a in args[1].tolist()]
        return args[0].sum(dim=axes, keepdim=bool(attrs.get("keepdims", 1)))
    if op == "Gemm":
        a = args[0].T if attrs.get("transA", 0) else args[0]
        b = args[1].T if attrs.get("transB", 0) else args[1]
        out = attrs.get("alpha", 1.0) * (a @ b)
        return out + attrs.get("beta", 1.0) * args[2] if len(args) > 2 else out
    if op == "Identity":
        return args[0]
    if op == "QuantizeLinear":
        return _quantize(args[0], args[1], args[2], attrs.get("axis", 1)).to(args[2].dtype)
    if op == "DequantizeLinear":
        return dequantize(args[0], args[1], args[2], attrs.get("axis", 1))
    raise NotImplementedError(f"operator {op} is not supported by the evaluator")


def initializer_tensors(graph):
    values = {}
    for init in graph.initializer:
        values[init.name] = torch.from_numpy(np.array(numpy_helper.to_array(init)))
    for node in graph.node:
        if node.op_type == "Constant":
            values[node.output[0]] = torch.from_numpy(
                np.array(numpy_helper.to_array(node_attributes(node)["value"])))
    return values


def run_graph(model: onnx.ModelProto, features: torch.Tensor, observe=None, constants=None):
    """Runs the graph on one batch. observe(name, tensor) sees every node output."""
    values = dict(constants) if constants is not None else initializer_tensors(model.graph)
    values[model.graph.input[0].name] = features
    with torch.no_grad():
        for node in model.graph.node:
            if node.op_type == "Constant":
                continue
            args = [values[name] for name in node.input if name]
            result = _run_node(node, args)
            values[node.output[0]] = result
            if observe is not None:
                observe(node.output[0], result)
    return values[model.graph.output[0].name]
