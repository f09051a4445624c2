"""Static int8 quantisation into QuantizeLinear/DequantizeLinear (QDQ) form.

Layout of the result:
- every activation that enters or leaves a Conv, MatMul or Gemm passes through
  a QuantizeLinear/DequantizeLinear pair: unsigned 8-bit, one scale and zero
  point per tensor, calibrated on real feature batches (the model input too)
  to the range that rounds the observed values with the least squared error;
- every weight of those operators is stored signed 8-bit, symmetric, with one
  scale per output channel, and dequantised with an axis; its values stay
  within +-63 (see WEIGHT_PEAK). They are rounded so that their products with
  the calibration inputs, not the weights one by one, stay closest to float
  (see compensated_levels);
- Conv and Gemm biases are stored signed 32-bit with scale input_scale *
  weight_scale per channel, so a runtime can fold them into integer kernels.
Everything else (position table, layer norms, MatMul biases) stays float.
"""
from collections import defaultdict

import numpy as np
import onnx
import torch
from onnx import TensorProto, helper, numpy_helper

from .graph_eval import initializer_tensors, node_attributes, run_graph

COMPUTE_OPS = ("Conv", "MatMul", "Gemm")
# Largest stored weight magnitude. x86 integer kernels without VNNI (AVX2,
# plain AVX-512) add two uint8 x int8 products into a saturating 16-bit sum;
# with weights up to 127 that sum overflows (2 * 255 * 127 > 32767), and the
# same model then answers differently from its QDQ arithmetic and from one CPU
# to another. Within +-63 every such pair sum fits (2 * 255 * 63 = 32130).
WEIGHT_PEAK = 63
# Values each calibration batch adds to an activation's sample, on which its
# range is chosen.
SAMPLE_PER_BATCH = 20000
PRODUCER_NAME = "onnx.quantize"
PRODUCER_VERSION = "0.1.0"
DEFAULT_OPSET = 18
# Imports a runtime may look for in models of this family; no node uses them.
EXTRA_OPSETS = (
    ("ai.onnx.ml", 5), ("ai.onnx.training", 1), ("ai.onnx.preview.training", 1),
    ("com.microsoft", 1), ("com.microsoft.experimental", 1),
    ("com.microsoft.nchwc", 1), ("org.pytorch.aten", 1),
)


def simplify(model: onnx.ModelProto) -> onnx.ModelProto:
    """Turns Constant nodes into initialisers, drops Identity nodes and merges
    equal scalar constants, so the graph holds only operators that compute."""
    graph = model.graph
    rename = {}
    kept = []
    constants = {}
    for node in graph.node:
        if node.op_type == "Constant":
            tensor = onnx.helper.get_attribute_value(node.attribute[0])
            constants[node.output[0]] = numpy_helper.to_array(tensor)
        elif node.op_type == "Identity":
            rename[node.output[0]] = node.input[0]
        else:
            kept.append(node)
    # One initialiser per distinct constant value.
    by_value = {}
    new_initializers = []
    for name, value in constants.items():
        key = (value.dtype.str, value.shape, value.tobytes())
        if key in by_value:
            rename[name] = by_value[key]
        else:
            by_value[key] = name
            new_initializers.append(numpy_helper.from_array(value, name))
    for node in kept:
        for i, name in enumerate(node.input):
            while name in rename:
                name = rename[name]
            node.input[i] = name
    for output in graph.output:
        assert output.name not in rename, "graph output produced by an Identity"
    del graph.node[:]
    graph.node.extend(kept)
    graph.initializer.extend(new_initializers)
    used = {name for node in graph.node for name in node.input}
    keep = [init for init in graph.initializer if init.name in used]
    del graph.initializer[:]
    graph.initializer.extend(keep)
    return model


def unshare_parameters(model: onnx.ModelProto) -> onnx.ModelProto:
    """Gives every node its own copy of each float parameter tensor. The
    exporter merges equal tensors (layers still at identity share all-zero
    projections, and fresh norms share their ones and zeros); each operator's
    weights must be quantised on their own, and each layer keeps its own
    parameters in the file. Scalars and shape constants stay shared."""
    initializers = {init.name: init for init in model.graph.initializer}
    used = set()
    for node in model.graph.node:
        for index, name in enumerate(node.input):
            tensor = initializers.get(name)
            if tensor is None or tensor.data_type != TensorProto.FLOAT or len(tensor.dims) == 0:
                continue
            if name in used:
                copy = onnx.TensorProto()
                copy.CopyFrom(tensor)
                copy.name = f"{node.name or node.output[0]}_input{index}"
                model.graph.initializer.append(copy)
                node.input[index] = copy.name
            used.add(node.input[index])
    return model


def activation_tensors(model: onnx.ModelProto):
    """Names of the activations to quantise, in graph order: the non-constant
    inputs and the outputs of every Conv, MatMul and Gemm."""
    constant_names = {init.name for init in model.graph.initializer}
    names = []
    for node in model.graph.node:
        if node.op_type not in COMPUTE_OPS:
            continue
        for name in list(node.input[:2]) + [node.output[0]]:
            if name not in constant_names and name not in names:
                names.append(name)
    return names


class ActivationSampler:
    """Exact extremes of each watched tensor (every one it is shown, where
    `names` is None) over all batches, and a uniform random sample of its
    values (a bounded one, whatever the batch count)."""

    def __init__(self, names=None, seed=0):
        self.watched = None if names is None else set(names)
        self.low = defaultdict(lambda: 0.0)
        self.high = defaultdict(lambda: 0.0)
        self.samples = defaultdict(list)
        self.rng = np.random.default_rng(seed)

    def __call__(self, name, tensor):
        if self.watched is not None and name not in self.watched:
            return
        self.low[name] = min(self.low[name], float(tensor.min()))
        self.high[name] = max(self.high[name], float(tensor.max()))
        flat = tensor.reshape(-1)
        picks = torch.from_numpy(self.rng.integers(0, flat.numel(), SAMPLE_PER_BATCH))
        self.samples[name].append(flat[picks].numpy())

    def values(self, name):
        return np.concatenate(self.samples[name])


def _weight_rows(node, tensor):
    """What a weighted operator's matrix [out, in] multiplies, one row per
    output position: a convolution's input unfolded into its kernel windows,
    ordered (input channel, tap) like the flattened weight."""
    if node.op_type != "Conv":
        return tensor.reshape(-1, tensor.shape[-1])
    attributes = node_attributes(node)
    (kernel,), (stride,) = attributes["kernel_shape"], attributes.get("strides", [1])
    begin, end = attributes.get("pads", [0, 0])
    windows = torch.nn.functional.pad(tensor, (begin, end)).unfold(2, kernel, stride)
    batch, channels, positions, _ = windows.shape
    return windows.permute(0, 2, 1, 3).reshape(batch * positions, channels * kernel)


class InputMoments:
    """The second moment E[x x^T] of what each weight matrix multiplies, over
    the calibration batches: how strongly its inputs vary and vary together."""

    def __init__(self, model: onnx.ModelProto):
        constant_names = {init.name for init in model.graph.initializer}
        self.readers = defaultdict(list)  # activation -> weighted nodes reading it
        for node in model.graph.node:
            if node.op_type in COMPUTE_OPS and node.input[1] in constant_names:
                self.readers[node.input[0]].append(node)
        self.sums = {}
        self.counts = defaultdict(int)

    def __call__(self, name, tensor):
        for node in self.readers.get(name, ()):
            rows = _weight_rows(node, tensor.float())
            weight = node.input[1]
            self.sums[weight] = self.sums.get(weight, 0.0) + (rows.T @ rows).double()
            self.counts[weight] += rows.shape[0]

    def of(self, weight_name):
        return (self.sums[weight_name] / self.counts[weight_name]).numpy()


def calibrate(model: onnx.ModelProto, batches):
    """The range [low, high] (always including 0) of every activation to
    quantise, the one that rounds its observed values with the least error;
    and the InputMoments of every weight matrix."""
    names = activation_tensors(model)
    sampler = ActivationSampler(names)
    moments = InputMoments(model)

    def observe(name, tensor):
        sampler(name, tensor)
        moments(name, tensor)

    constants = initializer_tensors(model.graph)
    input_name = model.graph.input[0].name
    for batch in batches:
        observe(input_name, batch)
        run_graph(model, batch, observe, constants)
    ranges = {name: least_error_range(sampler.values(name), sampler.low[name], sampler.high[name])
              for name in names}
    return ranges, moments


def uint8_parameters(low, high):
    scale = max(high - low, 1e-8) / 255.0
    zero_point = int(np.clip(round(-low / scale), 0, 255))
    return np.float32(scale), np.uint8(zero_point)


def rounding_error(values, low, high):
    """Mean squared error of `values` quantised to uint8 over [low, high]."""
    scale, zero_point = uint8_parameters(low, high)
    levels = np.clip(np.round(values / scale) + zero_point, 0, 255)
    return float(np.mean(((levels - zero_point) * scale - values) ** 2))


def least_error_range(values, low, high):
    """The range within [low, high] that quantises `values` with the least
    squared error. The extremes alone would let a few outliers set the step
    for every value: attention weights, mostly near 1/400, then round to zero
    under a step sized for the rare weight near 1. Both ends first shrink
    together (factor 1 keeps [low, high] itself), then each end moves alone."""
    best = min((rounding_error(values, low * factor, high * factor), low * factor, high * factor)
               for factor in np.linspace(0.02, 1.0, 50))
    _, best_low, best_high = best
    for factor in np.linspace(0.5, 1.5, 41):
        for candidate in ((max(low, best_low * factor), best_high),
                          (best_low, min(high, best_high * factor))):
            best = min(best, (rounding_error(values, *candidate), *candidate))
    return best[1], best[2]


def int8_per_channel(weight: np.ndarray, axis: int, moment: np.ndarray = None):
    """Symmetric per-output-channel int8: scale = max |w| / WEIGHT_PEAK. Each
    weight is rounded to its nearest level, or, given the second moment of the
    inputs the weight multiplies (ordered as _weight_rows orders them), by
    compensated_levels."""
    channels_first = np.moveaxis(weight, axis, 0)
    matrix = channels_first.reshape(len(channels_first), -1)
    peak = np.abs(matrix).max(axis=1)
    scale = (np.maximum(peak, 1e-12) / WEIGHT_PEAK).astype(np.float32)
    if moment is None:
        levels = np.clip(np.round(matrix / scale[:, None]), -WEIGHT_PEAK, WEIGHT_PEAK).astype(np.int8)
    else:
        levels = compensated_levels(matrix, moment, scale)
    return np.ascontiguousarray(np.moveaxis(levels.reshape(channels_first.shape), 0, axis)), scale


# Added to the input second moment's diagonal, as a share of its mean, so that
# inputs that never varied in calibration leave it invertible.
MOMENT_DAMPING = 0.01


def compensated_levels(matrix: np.ndarray, moment: np.ndarray, scale: np.ndarray) -> np.ndarray:
    """Integer levels for `matrix` [out, in] at one `scale` per row, such that
    x @ levels.T * scale stays close to x @ matrix.T for inputs x of second
    moment `moment` [in, in]. Columns are rounded in order; each column's
    rounding error is carried onto the columns not yet rounded, in proportion
    to how their inputs go together (optimal brain quantisation, as in GPTQ by
    Frantar et al., 2022). Nearest rounding treats every weight alone; with
    only +-63 levels its errors add up along the correlated inputs of a layer.
    Each row's largest weight keeps level +-WEIGHT_PEAK, so that the scale stays
    max |w| / WEIGHT_PEAK and dequantised weights quantise to the same levels."""
    weights = matrix.astype(np.float64)
    scale = scale.astype(np.float64)
    moment = moment + MOMENT_DAMPING * np.mean(np.diag(moment)) * np.eye(len(moment))
    # Upper Cholesky factor of the inverse: row i holds how the error of
    # column i spreads over the columns after it.
    spread = np.linalg.cholesky(np.linalg.inv(moment)).T
    peak_column = np.abs(weights).argmax(axis=1)
    peak_level = np.sign(weights[np.arange(len(weights)), peak_column]) * WEIGHT_PEAK
    levels = np.empty_like(weights)
    # Hot loop, one column at a time; must keep the column order and carry
    # each error only onto later columns.
    for column in range(weights.shape[1]):
        level = np.clip(np.round(weights[:, column] / scale), -WEIGHT_PEAK, WEIGHT_PEAK)
        at_peak = peak_column == column
        level[at_peak] = peak_level[at_peak]
        levels[:, column] = level
        error = (weights[:, column] - level * scale) / spread[column, column]
        weights[:, column + 1:] -= np.outer(error, spread[column, column + 1:])
    return levels.astype(np.int8)


def weight_axis(node, weight: np.ndarray) -> int:
    if node.op_type == "MatMul":
        return weight.ndim - 1              # [in, out]
    if node.op_type == "Gemm":
        trans_b = next((a.i for a in node.attribute if a.name == "transB"), 0)
        return 0 if trans_b else 1
    return 0                                # Conv: [out, in, kernel]


class _QdqBuilder:
    def __init__(self, model, ranges, moments):
        self.model = model
        self.ranges = ranges
        self.moments = moments
        self.initializers = {init.name: init for init in model.graph.initializer}
        self.new_nodes_before = defaultdict(list)  # node index -> nodes to insert before
        self.new_initializers = []
        self.dequantised = {}   # activation name -> dequantised name
        self.activation_scale = {}

    def add_initializer(self, array, name):
        self.new_initializers.append(numpy_helper.from_array(array, name))
        return name

    def quantise_activation(self, name, position):
        if name in self.dequantised:
            return self.dequantised[name]
        scale, zero_point = uint8_parameters(*self.ranges[name])
        scale_name = self.add_initializer(np.array(scale), f"{name}_scale")
        zp_name = self.add_initializer(np.array(zero_point), f"{name}_zero_point")
        quantised, dequantised = f"{name}_quantized", f"{name}_dequantized"
        self.new_nodes_before[position] += [
            helper.make_node("QuantizeLinear", [name, scale_name, zp_name], [quantised],
                             name=f"{name}_QuantizeLinear"),
            helper.make_node("DequantizeLinear", [quantised, scale_name, zp_name], [dequantised],
                             name=f"{name}_DequantizeLinear"),
        ]
        self.dequantised[name] = dequantised
        self.activation_scale[name] = float(scale)
        return dequantised

    def quantise_weight(self, node, name, position):
        weight = numpy_helper.to_array(self.initializers[name])
        axis = weight_axis(node, weight)
        quantised, scale = int8_per_channel(weight, axis, self.moments.of(name))
        return self.add_per_channel_dequantize(name, quantised, scale, axis, position), scale

    def quantise_bias(self, name, input_scale, weight_scale, position):
        bias = numpy_helper.to_array(self.initializers[name]).astype(np.float64)
        scale = (input_scale * weight_scale.astype(np.float64)).astype(np.float32)
        quantised = np.round(bias / scale).clip(-2**31, 2**31 - 1).astype(np.int32)
        return self.add_per_channel_dequantize(name, quantised, scale, 0, position)

    def add_per_channel_dequantize(self, name, quantised, scale, axis, position):
        """Stores a quantised constant with its scales and zero points (of its own
        integer type) and dequantises it in front of the node at `position`."""
        q_name = self.add_initializer(quantised, f"{name}_quantized")
        s_name = self.add_initializer(scale, f"{name}_scale")
        z_name = self.add_initializer(np.zeros(scale.shape, quantised.dtype), f"{name}_zero_point")
        dequantised = f"{name}_dequantized"
        self.new_nodes_before[position].append(helper.make_node(
            "DequantizeLinear", [q_name, s_name, z_name], [dequantised],
            name=f"{name}_DequantizeLinear", axis=axis))
        return dequantised

    def rewrite(self):
        graph = self.model.graph
        nodes = list(graph.node)
        consumers_to_rewire = {}
        for position, node in enumerate(nodes):
            if node.op_type not in COMPUTE_OPS:
                continue
            data = node.input[0]
            data_dq = self.quantise_activation(data, position)
            node.input[0] = data_dq
            weight = node.input[1]
            if weight in self.initializers:
                node.input[1], weight_scale = self.quantise_weight(node, weight, position)
                if len(node.input) > 2 and node.input[2]:
                    node.input[2] = self.quantise_bias(
                        node.input[2], self.activation_scale[data], weight_scale, position)
            else:
                node.input[1] = self.quantise_activation(weight, position)
            # The output pair goes right after the node; its consumers read the
            # dequantised value.
            output = node.output[0]
            consumers_to_rewire[output] = self.quantise_activation(output, position + 1)
        rebuilt = []
        for position, node in enumerate(nodes):
            rebuilt += self.new_nodes_before.get(position, [])
            rebuilt.append(node)
        rebuilt += self.new_nodes_before.get(len(nodes), [])
        for node in rebuilt:
            if node.op_type == "QuantizeLinear":
                continue  # the only reader of the raw compute output
            for i, name in enumerate(node.input):
                if name in consumers_to_rewire:
                    node.input[i] = consumers_to_rewire[name]
        del graph.node[:]
        graph.node.extend(rebuilt)
        replaced = {n for n in self.initializers if not any(
            n in node.input for node in rebuilt)}
        kept = [init for init in graph.initializer if init.name not in replaced]
        del graph.initializer[:]
        graph.initializer.extend(kept + self.new_initializers)


def quantise(float_model: onnx.ModelProto, calibration_batches) -> onnx.ModelProto:
    model = onnx.ModelProto()
    model.CopyFrom(float_model)
    simplify(model)
    unshare_parameters(model)
    ranges, moments = calibrate(model, calibration_batches)
    _QdqBuilder(model, ranges, moments).rewrite()
    set_metadata(model)
    return model


def set_metadata(model: onnx.ModelProto, ir_version: int = onnx.IR_VERSION):
    model.producer_name = PRODUCER_NAME
    model.producer_version = PRODUCER_VERSION
    model.graph.name = "main_graph"
    model.ir_version = ir_version
    del model.opset_import[:]
    model.opset_import.append(helper.make_opsetid("", DEFAULT_OPSET))
    for domain, version in EXTRA_OPSETS:
        model.opset_import.append(helper.make_opsetid(domain, version))


def simulate(model: onnx.ModelProto, features: torch.Tensor) -> torch.Tensor:
    """Runs a (possibly quantised) graph with the torch evaluator."""
    return run_graph(model, features)
