"""The int8 file's rounding, simulated in torch, for quantisation-aware training.

The quantiser (quantize.py) rounds every input and output of the graph's Conv,
MatMul and Gemm operators to uint8 over a calibrated range, and their weights to
int8 levels per output channel. A network trained in float loses accuracy to
that rounding; one trained while its forward pass rounds the same tensors in the
same places learns to live with it. The model's code calls `linear`, `matmul`
and `rounded` at those places; with no simulation active they compute in float
exactly as the export traces them, so the exported graph does not change.

Rounding passes gradients straight through inside the range and none outside
(torch's fake-quantise operators). Weights round to their nearest levels here;
the export may round them more carefully, which only helps.
"""
from contextlib import contextmanager

import torch
import torch.nn.functional as F

from .quantize import WEIGHT_PEAK, ActivationSampler, least_error_range, uint8_parameters

_active = None


@contextmanager
def simulating(simulation):
    """Runs the model's forward passes inside the block through `simulation`."""
    global _active
    previous, _active = _active, simulation
    try:
        yield simulation
    finally:
        _active = previous


def rounded(x, module, role):
    """x as the int8 file sees it where it enters or leaves a product;
    `module` and `role` name the place."""
    return x if _active is None else _active.activation(x, module, role)


def linear(module, x):
    """module(x) for an nn.Linear, rounded as the file rounds it: a product on
    3-D input exports as MatMul then Add (the bias joins after the output's
    rounding), on 2-D input as Gemm (before it)."""
    if _active is None:
        return module(x)
    product = F.linear(rounded(x, module, "in"), _active.weight(module.weight))
    if module.bias is None:
        return rounded(product, module, "out")
    if x.dim() == 2:
        return rounded(product + module.bias, module, "out")
    return rounded(product, module, "out") + module.bias


def matmul(a, b, module, role, product):
    """product(a, b) between two activations, each input and the output rounded."""
    if _active is None:
        return product(a, b)
    a, b = rounded(a, module, f"{role}.a"), rounded(b, module, f"{role}.b")
    return rounded(product(a, b), module, f"{role}.out")


def conv_weight(module):
    """A convolution's weight as the file stores it (per output channel)."""
    return module.weight if _active is None else _active.weight(module.weight)


class Int8Simulation:
    """Calibrated ranges of every rounded place in one network. `calibrate`
    chooses them as the quantiser does, from float forward passes; afterwards
    forward passes under `simulating(self)` round with them."""

    def __init__(self, model):
        self.names = {module: name for name, module in model.named_modules()}
        self.sampler = None
        self.extremes = {}    # place -> (lowest, highest) value seen in calibration
        self.parameters = {}  # place -> (scale, zero point)

    def calibrate(self, model, batches, seed=0):
        self.sampler = ActivationSampler(seed=seed)
        was_training = model.training
        model.eval()
        try:
            with simulating(self), torch.no_grad():
                for batch in batches:
                    model(batch)
        finally:
            model.train(was_training)
        sampler, self.sampler = self.sampler, None
        self.extremes = {place: (sampler.low[place], sampler.high[place]) for place in sampler.samples}
        self.parameters = {place: uint8_parameters(*least_error_range(sampler.values(place), *extremes))
                           for place, extremes in self.extremes.items()}

    def activation(self, x, module, role):
        place = f"{self.names[module]}.{role}"
        if self.sampler is not None:
            self.sampler(place, x.detach().float())
            return x
        if place not in self.parameters:
            raise KeyError(f"{place} was never calibrated")
        scale, zero_point = self.parameters[place]
        return torch.fake_quantize_per_tensor_affine(x.float(), float(scale), int(zero_point), 0, 255)

    def weight(self, weight):
        """Symmetric int8 per output channel (the first axis), within
        +-WEIGHT_PEAK like the file's weights."""
        if self.sampler is not None:
            return weight
        rows = weight.float().reshape(len(weight), -1)
        scale = (rows.detach().abs().amax(dim=1).clamp_min(1e-12) / WEIGHT_PEAK)
        zero = torch.zeros(len(weight), dtype=torch.int32)
        return torch.fake_quantize_per_channel_affine(
            rows, scale, zero, 0, -WEIGHT_PEAK, WEIGHT_PEAK).reshape(weight.shape)
