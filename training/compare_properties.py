#!/usr/bin/python3
"""Prints an ONNX model's properties beside the embedded image's target ones.

    /usr/bin/python3 training/compare_properties.py [models/veyra_end_of_turn.onnx] [--markdown]
"""
import argparse
import collections
import os

import onnx
from onnx import TensorProto

TARGET = {
    "size (bytes)": 8679182,
    "IR version": 10,
    "producer": "onnx.quantize 0.1.0",
    "default opset": 18,
    "further opset imports": 7,
    "graph name": "main_graph",
    "nodes": 406,
    "initialisers": 324,
    "nodes outside the default domain": 0,
    "activation QDQ pairs (uint8)": 78,
    "int8 weight tensors": 31,
    "int32 bias tensors": 5,
}
TARGET_CENSUS = {
    "DequantizeLinear": 114, "QuantizeLinear": 78, "Add": 39, "MatMul": 34, "Mul": 25,
    "Reshape": 24, "Transpose": 21, "Slice": 12, "Concat": 11, "LayerNormalization": 10,
    "Div": 8, "Erf": 8, "Shape": 5, "Softmax": 5, "Gather": 4, "Gemm": 3, "Conv": 2,
    "Tanh": 1, "ReduceSum": 1, "Sigmoid": 1,
}


def properties(path):
    model = onnx.load(path)
    graph = model.graph
    default = [o.version for o in model.opset_import if o.domain in ("", "ai.onnx")]
    quantize_inputs = {n.input[0] for n in graph.node if n.op_type == "QuantizeLinear"}
    uint8_pairs = sum(
        1 for n in graph.node if n.op_type == "QuantizeLinear" and len(n.input) > 2 and
        any(i.name == n.input[2] and i.data_type == TensorProto.UINT8 for i in graph.initializer))
    found = {
        "size (bytes)": os.path.getsize(path),
        "IR version": model.ir_version,
        "producer": f"{model.producer_name} {model.producer_version}",
        "default opset": default[0] if default else None,
        "further opset imports": sum(1 for o in model.opset_import if o.domain not in ("", "ai.onnx")),
        "graph name": graph.name,
        "nodes": len(graph.node),
        "initialisers": len(graph.initializer),
        "nodes outside the default domain": sum(1 for n in graph.node if n.domain not in ("", "ai.onnx")),
        "activation QDQ pairs (uint8)": uint8_pairs if quantize_inputs else 0,
        # Weight and bias tensors are the multi-element int8/int32 initialisers;
        # per-channel zero points of the same types are not counted.
        "int8 weight tensors": sum(1 for i in graph.initializer if i.data_type == TensorProto.INT8
                                   and not i.name.endswith("_zero_point")),
        "int32 bias tensors": sum(1 for i in graph.initializer if i.data_type == TensorProto.INT32
                                  and not i.name.endswith("_zero_point")),
    }
    census = collections.Counter(n.op_type for n in graph.node)
    return found, census


def rows(path):
    found, census = properties(path)
    table = [(name, target, found[name]) for name, target in TARGET.items()]
    ops = list(TARGET_CENSUS) + sorted(set(census) - set(TARGET_CENSUS))
    table += [(f"op {op}", TARGET_CENSUS.get(op, 0), census.get(op, 0)) for op in ops]
    return table


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("model", nargs="?", default=os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "models", "veyra_end_of_turn.onnx"))
    parser.add_argument("--markdown", action="store_true")
    args = parser.parse_args()
    table = rows(args.model)
    if args.markdown:
        print("| Property | Target | This model | |\n|---|---|---|---|")
        for name, target, value in table:
            print(f"| {name} | {target} | {value} | {'' if target == value else 'differs'} |")
        return
    width = max(len(name) for name, _, _ in table)
    print(f"{'property':<{width}}  {'target':>22}  {'this model':>22}")
    for name, target, value in table:
        mark = "" if target == value else "  *"
        print(f"{name:<{width}}  {str(target):>22}  {str(value):>22}{mark}")


if __name__ == "__main__":
    main()
