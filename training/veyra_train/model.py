"""The end-of-turn network: log-mel [batch, 80, 800] -> probability [batch, 1].

The layer order, widths and constants are fixed by the module's model
contract; the exported graph is what the node embeds, so every operation here
is written the way it should appear in ONNX (exact-erf GELU, scaled query and
key, Linear on 3-D tensors as MatMul + Add, on 2-D tensors as Gemm).
Products go through int8_simulation's helpers, which compute them plainly
unless a training run simulates the int8 file's rounding.
"""
import math

import torch
import torch.nn.functional as F
from torch import nn

from .int8_simulation import conv_weight, linear, matmul, rounded

NUM_MEL_BANDS = 80
NUM_FRAMES = 800
NUM_POSITIONS = 400
WIDTH = 384
NUM_HEADS = 6
HEAD_WIDTH = 64
FEED_FORWARD_WIDTH = 1536
NUM_LAYERS = 4
LAYER_NORM_EPS = 1e-5
# Query and key are each scaled by HEAD_WIDTH ** -0.25 so that their product
# carries the usual 1/sqrt(HEAD_WIDTH) without large intermediate values.
QK_SCALE = 0.35355339


def head_matmul(a, b):
    """a @ b over [batch, heads, ...] tensors. Exports as one MatMul; in fp32
    training it runs as one 2-D product per batch item and head, because this
    torch build's batched fp32 product is slower than its 2-D one (bf16 has
    the faster batched product)."""
    if torch.onnx.is_in_onnx_export() or torch.is_autocast_cpu_enabled():
        return a @ b
    pairs = zip(a.reshape(-1, *a.shape[-2:]), b.reshape(-1, *b.shape[-2:]))
    return torch.stack([x @ y for x, y in pairs]).reshape(*a.shape[:-1], b.shape[-1])


def gelu(x):
    """Exact GELU. The export spells it out as Div, Erf, Add, Mul, Mul; training
    uses torch's fused kernel of the same function, five times faster here."""
    if torch.onnx.is_in_onnx_export():
        return x * 0.5 * (1.0 + torch.erf(x / math.sqrt(2.0)))
    return F.gelu(x)


def in_float(x):
    """x in float32 under bf16 autocast, where norms and softmax lose too much
    in bf16 (and this torch's LayerNorm refuses bf16 input with float
    weights); unchanged otherwise, so the export has no casts."""
    return x.float() if torch.is_autocast_cpu_enabled() else x


class LayerNorm(nn.LayerNorm):
    """nn.LayerNorm, in float32 under bf16 autocast."""

    def forward(self, x):
        return super().forward(in_float(x))


def conv_as_product(x, conv, stride, padding):
    """A Conv1d over time-major x [batch, time, channels] as one product over
    the unfolded windows: the same result up to rounding, with exact weight
    gradients whatever kernels run (this torch build's oneDNN convolutions
    return wrong ones on our training CPUs) and fast bf16 products."""
    x = rounded(x, conv, "in")  # before the padding: zeros round to zero
    if padding:
        x = F.pad(x, (0, 0, padding, padding))
    windows = x.unfold(1, conv.kernel_size[0], stride).flatten(2)  # [batch, out time, channels * kernel]
    return rounded(F.linear(windows, conv_weight(conv).flatten(1), conv.bias), conv, "out")


class SelfAttention(nn.Module):
    def __init__(self):
        super().__init__()
        self.query = nn.Linear(WIDTH, WIDTH)
        self.key = nn.Linear(WIDTH, WIDTH, bias=False)
        self.value = nn.Linear(WIDTH, WIDTH)
        self.out = nn.Linear(WIDTH, WIDTH)

    # The number of positions is fixed by the input contract, so the exported
    # reshapes use constant shapes (-1 stands for the batch) and need no
    # run-time shape arithmetic. Training may run on the newest positions only.
    @staticmethod
    def _positions(x):
        return NUM_POSITIONS if torch.onnx.is_in_onnx_export() else x.shape[1]

    @staticmethod
    def _heads(x, positions):
        return x.reshape(-1, positions, NUM_HEADS, HEAD_WIDTH)

    def forward(self, x):
        positions = self._positions(x)
        q = self._heads(linear(self.query, x) * QK_SCALE, positions).transpose(1, 2)
        k_transposed = self._heads(linear(self.key, x) * QK_SCALE, positions).permute(0, 2, 3, 1)
        v = self._heads(linear(self.value, x), positions).transpose(1, 2)
        scores = matmul(q, k_transposed, self, "scores", head_matmul)
        weights = torch.softmax(in_float(scores), dim=-1)
        mixed = matmul(weights, v, self, "mix", head_matmul)
        return linear(self.out, mixed.transpose(1, 2).reshape(-1, positions, WIDTH))


class EncoderLayer(nn.Module):
    """Pre-norm transformer layer. `dropout` applies to each branch's output
    in training only; the export runs in eval mode and has none."""

    def __init__(self):
        super().__init__()
        self.dropout = 0.0
        self.attention_norm = LayerNorm(WIDTH, eps=LAYER_NORM_EPS)
        self.attention = SelfAttention()
        self.feed_forward_norm = LayerNorm(WIDTH, eps=LAYER_NORM_EPS)
        self.feed_forward_in = nn.Linear(WIDTH, FEED_FORWARD_WIDTH)
        self.feed_forward_out = nn.Linear(FEED_FORWARD_WIDTH, WIDTH)

    def make_identity(self):
        """Zeroes the layer's two output projections: the layer then passes
        its input through unchanged, and training can start from there."""
        with torch.no_grad():
            for linear in (self.attention.out, self.feed_forward_out):
                linear.weight.zero_()
                linear.bias.zero_()

    def is_identity(self):
        return all(not linear.weight.any() and not linear.bias.any()
                   for linear in (self.attention.out, self.feed_forward_out))

    def forward(self, x):
        x = x + F.dropout(self.attention(self.attention_norm(x)), self.dropout, self.training)
        hidden = gelu(linear(self.feed_forward_in, self.feed_forward_norm(x)))
        return x + F.dropout(linear(self.feed_forward_out, hidden), self.dropout, self.training)


class AttentionPooling(nn.Module):
    """Weighted mean over positions, with weights the network learns to place."""

    def __init__(self):
        super().__init__()
        self.hidden = nn.Linear(WIDTH, 256)
        self.score = nn.Linear(256, 1)

    def forward(self, x):
        weights = torch.softmax(in_float(linear(self.score, torch.tanh(linear(self.hidden, x)))), dim=1)
        return (x * weights).sum(dim=1)


class Classifier(nn.Module):
    def __init__(self):
        super().__init__()
        self.first = nn.Linear(WIDTH, 256)
        self.norm = LayerNorm(256, eps=LAYER_NORM_EPS)
        self.second = nn.Linear(256, 64)
        self.last = nn.Linear(64, 1)

    def forward(self, pooled):
        x = gelu(self.norm(linear(self.first, pooled)))
        x = gelu(linear(self.second, x))
        return linear(self.last, x)


class EndOfTurnNet(nn.Module):
    def __init__(self):
        super().__init__()
        self.conv1 = nn.Conv1d(NUM_MEL_BANDS, WIDTH, kernel_size=3, stride=1, padding=1)
        self.conv2 = nn.Conv1d(WIDTH, WIDTH, kernel_size=3, stride=2, padding=1)
        self.positions = nn.Parameter(torch.randn(NUM_POSITIONS, WIDTH) * 0.02)
        self.layers = nn.ModuleList(EncoderLayer() for _ in range(NUM_LAYERS))
        self.final_norm = LayerNorm(WIDTH, eps=LAYER_NORM_EPS)
        self.pooling = AttentionPooling()
        self.classifier = Classifier()
        # Encoder layers left out of training; they must be identities (see
        # EncoderLayer.make_identity). The export always runs every layer.
        self.skipped_layers = set()
        self.dropout = 0.0

    def set_dropout(self, rate):
        """Dropout in training (encoder branches and the pooled vector)."""
        self.dropout = rate
        for layer in self.layers:
            layer.dropout = rate

    def skip_layers(self, indices):
        """Makes the given layers identities and leaves them out of training
        runs, which costs most of the compute of this network."""
        self.skipped_layers = set(indices)
        for i in self.skipped_layers:
            self.layers[i].make_identity()
            for parameter in self.layers[i].parameters():
                parameter.requires_grad_(False)

    def stem(self, features, positions=NUM_POSITIONS):
        """The convolution stem's output [batch, positions, width] at the newest
        `positions` positions, computed from the frames they see only; equal
        to the full stem's output there, up to rounding. The export has the
        two Conv operators; everywhere else they run as products."""
        if torch.onnx.is_in_onnx_export():
            return gelu(self.conv2(gelu(self.conv1(features)))).transpose(1, 2)
        frames = features.transpose(1, 2)
        if positions >= NUM_POSITIONS:
            x = gelu(conv_as_product(frames, self.conv1, stride=1, padding=1))
            return gelu(conv_as_product(x, self.conv2, stride=2, padding=1))
        x = gelu(conv_as_product(frames[:, -(2 * positions + 2):], self.conv1, stride=1, padding=1))[:, 1:]
        # The slice starts one frame before the first position's centre, so a
        # stride-2 convolution without padding lands on the same centres.
        return gelu(conv_as_product(x, self.conv2, stride=2, padding=0))

    def above_stem(self, stem):
        """Pre-sigmoid score from the stem's output at the newest positions:
        positions, encoder layers (skipped ones left out, except in the
        export), final norm, pooling and classifier."""
        count = stem.shape[1]
        x = stem + (self.positions if count == NUM_POSITIONS else self.positions[NUM_POSITIONS - count:])
        exporting = torch.onnx.is_in_onnx_export()
        for i, layer in enumerate(self.layers):
            if exporting or i not in self.skipped_layers:
                x = layer(x)
        pooled = self.pooling(self.final_norm(x))
        return self.classifier(F.dropout(pooled, self.dropout, self.training))

    def score(self, features, positions=NUM_POSITIONS):
        """Pre-sigmoid score; training uses it for a numerically stable loss.
        With fewer positions, attention and pooling see only the newest ones,
        as if the older audio were not there: training at a fraction of the
        cost."""
        return self.above_stem(self.stem(features, positions))

    def forward(self, features):
        return torch.sigmoid(self.score(features))
