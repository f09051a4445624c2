#!/usr/bin/python3
"""Trains the end-of-turn network on stored features, CPU only, resumable.

    OMP_NUM_THREADS=2 nice -n 10 /usr/bin/python3 training/train.py \
        --features training/work/features --run training/runs/NAME --stage head --minutes 10

Stages, each continuing from the run's last checkpoint:
  head    the convolution stem stays at its seeded initialisation and its
          output is computed once; positions, final norm, pooling and
          classifier learn.
  stem    the stem learns too (the "cheap path": encoder layers kept as
          identities, which is most of this network's compute).
  last    after head or stem: the stem is held still and its output computed
          once again; the last encoder layer learns from identity together with
          the head, on all 400 positions, the other layers stay identities.
          One layer without the stem's backward pass is a fraction of the
          full network's cost, and gives every position the whole clip's
          context.
  last_stem  after last: the stem learns too, at its own rate, beside the
          last encoder layer and the head (its output computed every step).
  last2   after last: the second-to-last encoder layer joins the last one,
          starting from identity, on the same cached stem output (about
          twice the last stage's cost per step).
  window  the encoder layers learn, starting from identity, with everything
          else held still, on the newest --positions positions only (the end
          of a turn is in its last seconds, and attention over 128 positions
          instead of 400 costs a fifth).
  full    everything learns on all 400 positions (slow), adapting the
          network to the older audio that the window stage never showed it.
--warp, --tempo, --mask-bands and --colour vary every training clip on every
draw (another speaker's vocal tract, another speaking rate, a formant region
hidden, another microphone; veyra_train/augment.py); a stage whose
stem is held still then computes it afresh per batch instead of once.
Validation always runs the whole network on all 400 positions, as shipped,
in fp32.
--simulate-int8 rounds training and validation as the int8 file does, so the
network learns to live with that rounding and best.pt is the best int8 step.
--bf16 runs the training steps' products in bfloat16 (weights, norms, softmax
and the optimiser stay fp32): on a CPU with bf16 units (AVX512_BF16 or AMX)
a step takes about a third of the fp32 time. On a CPU without them torch
emulates bf16, so far slower that --bf16 is set aside there and steps run in fp32.
The learning rate follows warmup and a cosine over the stage's time budget,
so a run under varying machine load still ends its schedule on time.
Checkpoints (RUN/last.pt every few minutes, RUN/best.pt on best validation
accuracy) make an interrupted stage resume where it stopped.
"""
import argparse
import contextlib
import ctypes
import ctypes.util
import json
import math
import os
import sys
import time

import numpy as np
import torch
import torch.nn.functional as F

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from veyra_train.augment import random_variation  # noqa: E402
from veyra_train.export import calibration_batches  # noqa: E402
from veyra_train.int8_simulation import Int8Simulation, simulating  # noqa: E402
from veyra_train.lengths import clip_seconds, paired_members  # noqa: E402
from veyra_train.metrics import binary_metrics  # noqa: E402
from veyra_train.model import NUM_LAYERS, EndOfTurnNet  # noqa: E402

CHECKPOINT_SECONDS = 180
STAGE_LEARNING_RATES = {"head": 1e-3, "stem": 3e-4, "last": 1e-4, "last_stem": 1e-5, "last2": 3e-5,
                        "window": 1e-4, "full": 5e-5}
# Encoder layers each stage leaves out of training (they must be identities).
STAGE_SKIPPED_LAYERS = {"head": set(range(NUM_LAYERS)), "stem": set(range(NUM_LAYERS)),
                        "last": set(range(NUM_LAYERS - 1)), "last_stem": set(range(NUM_LAYERS - 1)),
                        "last2": set(range(NUM_LAYERS - 2)),
                        "window": set(), "full": set()}
# Stages whose stem is held still, so its output is computed once per clip.
CACHED_STEM_STAGES = ("head", "last", "last2")
WARMUP_FRACTION = 0.05
# Stages that clip all their parts' gradients together instead of each part
# on its own (see Trainer._learning_parts): the shipped model's last stage was
# trained so, and clipping apart has not been measured there.
SHARED_CLIP_STAGES = ("last",)
# The stem learns at a peak rate of its own: its seeded weights are small
# (conv2 about 0.017 standard deviation), and the layers above it were
# trained on what they compute.
STEM_PEAK_LEARNING_RATE = 1e-5

def load_split(features_dir, split):
    features = np.load(os.path.join(features_dir, f"{split}.npy"), mmap_mode="r")
    with open(os.path.join(features_dir, f"{split}.jsonl")) as f:
        records = [json.loads(line) for line in f]
    labels = np.array([r["label"] for r in records], dtype=np.float32)
    return np.array(features), labels, records  # in memory: read every step


def balanced_batches(labels, groups, batch_size, rng, weight_of=lambda group: 1.0):
    """Endless batches of complete/incomplete pairs, both clips of a pair
    from one group (language and source), the group drawn in proportion to
    its size times weight_of(group). Balancing the classes within each group,
    not only overall, keeps the group itself from telling the label: the human
    prompts hold far more complete clips than incomplete ones, the synthetic
    clips half and half."""
    members, weights, groups = [], [], np.asarray(groups)
    for group in np.unique(groups):
        in_group = groups == group
        classes = [np.nonzero(in_group & (labels < 0.5))[0], np.nonzero(in_group & (labels > 0.5))[0]]
        if len(classes[0]) and len(classes[1]):
            members.append(classes)
            weights.append(in_group.sum() * weight_of(str(group)))
    if not members:
        raise SystemExit("no group has clips of both classes to pair")
    weights = np.array(weights, dtype=np.float64)
    yield from _pair_batches(members, weights, batch_size, rng)


def group_prior_weights(labels, groups):
    """Per-clip loss weights under which a group's balanced pairs count as
    that group's own share p of complete clips: complete clips 2p, incomplete
    ones 2(1 - p), so a pair still weighs 2. The pairs keep the group from
    being a cue of its own, while the answer for ambiguous speech of a group
    leans as far as that group's data does (human prompts are mostly whole)."""
    groups = np.asarray(groups)
    weights = np.ones(len(labels), np.float32)
    for group in np.unique(groups):
        in_group = groups == group
        share = float(labels[in_group].mean())
        weights[in_group & (labels > 0.5)] = 2 * share
        weights[in_group & (labels < 0.5)] = 2 * (1 - share)
    return weights


def length_matched_batches(labels, seconds, batch_size, rng):
    """Endless batches of complete/incomplete pairs from one length bin each,
    the bin drawn in proportion to the smaller of its two classes: length then
    tells nothing, at the price of rarely showing the lengths where one class
    is scarce."""
    members = paired_members(labels, seconds)
    weights = np.array([min(len(i), len(c)) for i, c in members], dtype=np.float64)
    if not weights.any():
        raise SystemExit("no length has clips of both classes to pair")
    yield from _pair_batches(members, weights, batch_size, rng)


def _pair_batches(members, weights, batch_size, rng):
    """Endless batches of batch_size // 2 (incomplete, complete) pairs, each
    pair from one of members' (incomplete, complete) index lists, drawn by weight."""
    while True:
        chosen = rng.choice(len(members), batch_size // 2, p=weights / weights.sum())
        yield np.array([rng.choice(members[m][label]) for m in chosen for label in (0, 1)])


class Trainer:
    def __init__(self, args):
        self.args = args
        torch.manual_seed(args.seed)
        self.model = EndOfTurnNet()
        self.model.set_dropout(args.dropout)
        self.rng = np.random.default_rng(args.seed)
        self.train_x, self.train_y, train_records = load_split(args.features, "train")
        self.train_seconds = clip_seconds(train_records)
        self.train_groups = [f"{r['language']}/{r['source']}" for r in train_records]
        self.val_x, self.val_y, _ = load_split(args.features, "val")
        self.loss_weights = (group_prior_weights(self.train_y, self.train_groups)
                             if args.group_priors else np.ones(len(self.train_y), np.float32))
        self.state = {"stage": None, "elapsed": 0.0, "step": 0, "best_accuracy": -1.0}
        self.optimizer = None
        self._restore()
        self._configure_stage()

    # --- checkpoints -----------------------------------------------------
    def _path(self, name):
        return os.path.join(self.args.run, name)

    def _restore(self):
        os.makedirs(self.args.run, exist_ok=True)
        if os.path.exists(self._path("last.pt")):
            saved = torch.load(self._path("last.pt"))
            self.model.load_state_dict(saved["model"])
            self.state = saved["state"]
            self.saved_optimizer = saved["optimizer"] if saved["state"]["stage"] == self.args.stage else None
            print(f"resumed {self.state}", flush=True)
        else:
            self.saved_optimizer = None
            if self.args.init:
                # Another run's weights, this run's own fresh schedule.
                self.model.load_state_dict(torch.load(self.args.init)["model"])
                print(f"starting from {self.args.init}", flush=True)
        if self.state["stage"] != self.args.stage:
            self.state.update(stage=self.args.stage, elapsed=0.0, step=0)

    def save(self, name="last.pt"):
        torch.save({"model": self.model.state_dict(), "optimizer": self.optimizer.state_dict(),
                    "state": self.state}, self._path(name) + ".tmp")
        os.replace(self._path(name) + ".tmp", self._path(name))

    # --- int8 simulation ---------------------------------------------------
    def _calibrated_simulation(self):
        """The int8 file's rounding, with ranges calibrated once on the clips
        the export calibrates on; the stem is held still and the layers above
        it move little at fine-tuning rates."""
        simulation = Int8Simulation(self.model)
        simulation.calibrate(self.model, calibration_batches(self.train_x, self.args.calibration_items))
        print(f"simulating int8 at {len(simulation.parameters)} places", flush=True)
        return simulation

    def _rounding(self):
        """Forward passes inside run as the int8 file computes, under --simulate-int8."""
        return simulating(self.simulation) if self.simulation else contextlib.nullcontext()

    # --- stages ----------------------------------------------------------
    def _learning_parts(self, stage):
        """The parts a stage trains, as parameter lists; every other parameter
        is held still. Each part's gradient is clipped on its own: a layer
        that starts from identity, or the stem, can see gradients a hundred
        times larger than the rest, and one shared clip would then shrink the
        others' to noise."""
        m = self.model
        head = [m.positions, *m.final_norm.parameters(), *m.pooling.parameters(),
                *m.classifier.parameters()]
        stem = [*m.conv1.parameters(), *m.conv2.parameters()]
        layers = [list(layer.parameters()) for layer in m.layers]
        return {"head": [head], "stem": [stem, head], "last": [layers[-1], head],
                "last_stem": [stem, layers[-1], head], "last2": [*layers[-2:], head], "window": layers,
                "full": [stem, *layers, head]}[stage]

    def _configure_stage(self):
        stage = self.args.stage
        skipped = STAGE_SKIPPED_LAYERS[stage]
        if self.state["step"] == 0:
            # Only the first stage turns seeded layers into identities; a later
            # one finds its skipped layers so and must not wipe trained ones.
            trained = [i for i in sorted(skipped) if not self.model.layers[i].is_identity()]
            if trained and stage != "head":
                raise SystemExit(f"stage {stage} would discard trained encoder layers {trained}; "
                                 "it follows head or stem")
            self.model.skip_layers(skipped)
        self.model.skipped_layers = set(skipped)
        parts = self._learning_parts(stage)
        parameters = [p for part in parts for p in part]
        self.clip_groups = [parameters] if stage in SHARED_CLIP_STAGES else parts
        learning = {id(p) for p in parameters}
        for p in self.model.parameters():
            p.requires_grad_(id(p) in learning)
        self.optimizer = torch.optim.AdamW(self._parameter_groups(parts), weight_decay=0.02)
        if self.saved_optimizer is not None:
            if len(self.saved_optimizer["param_groups"]) != len(self.optimizer.param_groups):
                raise SystemExit(f"{self._path('last.pt')} holds a {stage} stage begun with another "
                                 "parameter grouping (an older train.py); finish it with that version")
            peaks = [group["peak"] for group in self.optimizer.param_groups]
            self.optimizer.load_state_dict(self.saved_optimizer)
            for group, peak in zip(self.optimizer.param_groups, peaks):
                group["peak"] = peak  # this invocation's rates, not the saved ones
        # After the skipped layers are known, so that only computed places calibrate.
        self.simulation = self._calibrated_simulation() if self.args.simulate_int8 else None
        self.cache = self.val_cache = None
        if stage in CACHED_STEM_STAGES:
            # Varied training clips need their stem output afresh every step.
            self.cache = None if self.varies_clips() else self._stem_cache(self.train_x)
            self.val_cache = self._stem_cache(self.val_x)
        print(f"stage {stage}: {sum(p.numel() for p in parameters)} trainable parameters", flush=True)

    def _parameter_groups(self, parts):
        """One optimizer group per part, each with its peak learning rate."""
        stage_peak = self.stage_peak()
        groups = []
        for part in parts:
            is_stem = part[0] is self.model.conv1.weight  # the stem part starts with it
            peak = self.args.stem_learning_rate if is_stem else stage_peak
            groups.append({"params": part, "lr": peak, "peak": peak})
        return groups

    def stage_peak(self):
        """The stage's peak learning rate: --learning-rate where given."""
        return self.args.learning_rate or STAGE_LEARNING_RATES[self.args.stage]

    def _stem_cache(self, features):
        out = np.zeros((len(features), 400, 384), np.float16)
        with torch.no_grad(), self._rounding():
            for start in range(0, len(features), 32):
                x = torch.from_numpy(features[start:start + 32].astype(np.float32))
                out[start:start + 32] = self.model.stem(x).numpy().astype(np.float16)
        return out

    def varies_clips(self):
        return bool(self.args.warp or self.args.tempo or self.args.mask_bands or self.args.colour)

    def _scores(self, indices, features, cache, training=False):
        if cache is not None:
            return self.model.above_stem(torch.from_numpy(cache[indices].astype(np.float32)))
        x = features[indices].astype(np.float32)
        if training and self.varies_clips():
            x = random_variation(x, self.rng, self.args.warp, self.args.tempo, self.args.mask_bands,
                                 self.args.colour)
        x = torch.from_numpy(x)
        if self.args.stage in CACHED_STEM_STAGES:  # the stem is held still
            with torch.no_grad():
                stem = self.model.stem(x)
            return self.model.above_stem(stem)
        if training and self.args.stage == "window":
            return self.model.score(x, self.args.positions)
        return self.model.score(x)

    def learning_rate(self, peak=None):
        """Warmup then cosine over the stage's time budget, scaled to `peak`
        (the stage's own peak rate by default)."""
        progress = min(1.0, self.state["elapsed"] / (self.args.minutes * 60))
        peak = self.stage_peak() if peak is None else peak
        if progress < WARMUP_FRACTION:
            return peak * progress / WARMUP_FRACTION
        return peak * 0.5 * (1 + math.cos(math.pi * (progress - WARMUP_FRACTION) / (1 - WARMUP_FRACTION)))

    def evaluate(self):
        self.model.eval()
        probabilities = []
        with torch.no_grad(), self._rounding():
            for start in range(0, len(self.val_y), 32):
                idx = np.arange(start, min(start + 32, len(self.val_y)))
                probabilities.append(torch.sigmoid(self._scores(idx, self.val_x, self.val_cache)).numpy().ravel())
        self.model.train()
        return binary_metrics(self.val_y, np.concatenate(probabilities))

    def run(self):
        if self.args.match_lengths:
            batches = length_matched_batches(self.train_y, self.train_seconds, self.args.batch_size, self.rng)
        else:
            human_weight = self.args.human_weight
            batches = balanced_batches(self.train_y, self.train_groups, self.args.batch_size, self.rng,
                                       lambda group: human_weight if group.endswith("/human") else 1.0)
        budget = self.args.minutes * 60
        last_save = last_eval = time.time()
        losses = []
        self.model.train()
        while self.state["elapsed"] < budget:
            started = time.time()
            indices = next(batches)
            for group in self.optimizer.param_groups:
                group["lr"] = self.learning_rate(group["peak"])
            with torch.autocast("cpu", dtype=torch.bfloat16, enabled=self.args.bf16), self._rounding():
                scores = self._scores(indices, self.train_x, self.cache, training=True).float()
            target = torch.from_numpy(self.train_y[indices]).unsqueeze(1)
            weight = torch.from_numpy(self.loss_weights[indices]).unsqueeze(1)
            loss = F.binary_cross_entropy_with_logits(scores, target, weight=weight)
            self.optimizer.zero_grad()
            loss.backward()
            for group in self.clip_groups:
                torch.nn.utils.clip_grad_norm_(group, 1.0)
            self.optimizer.step()
            losses.append(float(loss))
            self.state["step"] += 1
            self.state["elapsed"] += time.time() - started
            if time.time() - last_eval > self.args.eval_seconds or self.state["elapsed"] >= budget:
                self._report(losses)
                losses, last_eval = [], time.time()
            if time.time() - last_save > CHECKPOINT_SECONDS:
                self.save()
                last_save = time.time()
        self.save()

    def _report(self, losses):
        metrics = self.evaluate()
        line = dict(stage=self.args.stage, step=self.state["step"],
                    elapsed=round(self.state["elapsed"]), lr=self.learning_rate(),
                    loss=float(np.mean(losses)) if losses else None, **metrics)
        print(json.dumps(line), flush=True)
        with open(self._path("log.jsonl"), "a") as f:
            f.write(json.dumps(line) + "\n")
        if metrics["accuracy"] > self.state["best_accuracy"]:
            self.state["best_accuracy"] = metrics["accuracy"]
            self.save("best.pt")


def keep_freed_memory():
    """Makes glibc's malloc keep freed memory for reuse instead of handing
    every large block back to the kernel: each step allocates activations of
    tens of MB, and faulting their pages in afresh took half of a step's time
    (measured: a bf16 step of the last stage 0.67 s, then 0.29 s)."""
    libc = ctypes.CDLL(ctypes.util.find_library("c"))
    m_trim_threshold, m_mmap_max = -1, -4
    libc.mallopt(m_mmap_max, 0)
    libc.mallopt(m_trim_threshold, 2**31 - 1)


def cpu_has_bf16_units(cpuinfo="/proc/cpuinfo"):
    """Whether the CPU multiplies bfloat16 natively (AVX512_BF16 or AMX).
    Without them a bf16 step of the last stage took 39 s against 1.0 s in
    fp32 (AVX2-only AMD EPYC), so a time-budgeted stage would barely train."""
    try:
        with open(cpuinfo) as f:
            flags = next((line.split(":", 1)[1].split() for line in f if line.startswith("flags")), [])
    except OSError:
        return False
    return not {"avx512_bf16", "amx_bf16"}.isdisjoint(flags)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--features", required=True)
    parser.add_argument("--run", required=True)
    parser.add_argument("--stage", choices=tuple(STAGE_LEARNING_RATES), required=True)
    parser.add_argument("--positions", type=int, default=128,
                        help="newest positions the window stage trains on")
    parser.add_argument("--minutes", type=float, required=True, help="training time of this stage")
    parser.add_argument("--stem-learning-rate", type=float, default=STEM_PEAK_LEARNING_RATE,
                        help="peak learning rate of the convolution stem, where it learns")
    parser.add_argument("--init", help="checkpoint whose weights a new run starts from "
                        "(its stage then begins a schedule of its own)")
    parser.add_argument("--learning-rate", type=float,
                        help="peak learning rate of the stage, instead of its usual one")
    parser.add_argument("--human-weight", type=float, default=1.0,
                        help="how much more often than their size says pairs come from human speech")
    parser.add_argument("--group-priors", action="store_true",
                        help="weight the loss so that each group's pairs count as its own share "
                             "of complete clips, not half")
    parser.add_argument("--warp", type=float, default=0.0,
                        help="largest relative frequency warp of a training clip (another "
                             "speaker's vocal tract), drawn anew every step; 0 leaves clips as stored")
    parser.add_argument("--tempo", type=float, default=0.0,
                        help="largest relative tempo change of a training clip, drawn anew every step")
    parser.add_argument("--mask-bands", type=int, default=0,
                        help="widest run of mel bands hidden in a training clip, drawn anew every step")
    parser.add_argument("--colour", type=float, default=0.0,
                        help="largest amplitude in dB of each component of a smooth gain curve over "
                             "the bands (another microphone and line), drawn anew every step")
    parser.add_argument("--batch-size", type=int, default=16)
    parser.add_argument("--bf16", action="store_true",
                        help="bfloat16 products in training steps on CPUs with bf16 units "
                             "(set aside, in fp32, on others)")
    parser.add_argument("--match-lengths", action="store_true",
                        help="pair complete and incomplete clips of the same length in every batch, "
                             "so that length alone cannot tell them apart")
    parser.add_argument("--dropout", type=float, default=0.1,
                        help="dropout on the encoder branches and the pooled vector, in training")
    parser.add_argument("--simulate-int8", action="store_true",
                        help="train and validate through the int8 file's rounding (see "
                             "veyra_train/int8_simulation.py); best.pt is then the best int8 step")
    parser.add_argument("--calibration-items", type=int, default=256,
                        help="training clips that calibrate --simulate-int8; with the export's "
                             "count, the very clips the export calibrates on")
    parser.add_argument("--eval-seconds", type=float, default=240)
    parser.add_argument("--seed", type=int, default=20)
    args = parser.parse_args()
    if args.bf16 and not cpu_has_bf16_units():
        print("--bf16 set aside: this CPU has no bf16 units (AVX512_BF16 or AMX); steps run in fp32",
              flush=True)
        args.bf16 = False
    torch.set_num_threads(int(os.environ.get("OMP_NUM_THREADS", "2")))
    keep_freed_memory()
    Trainer(args).run()


if __name__ == "__main__":
    main()
