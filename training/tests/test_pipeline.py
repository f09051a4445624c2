"""The pipeline's moving parts: QDQ arithmetic of the evaluator, resumable
staged training, checkpoint averaging, and the native batch tools (skipped
until they are built)."""
import json
import os
import subprocess
import sys
import tempfile
import unittest
from types import SimpleNamespace

import numpy as np
import onnx
import torch
import torch.nn.functional as F
from onnx import helper, TensorProto

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
import train  # noqa: E402
from average_checkpoints import average_weights  # noqa: E402
from veyra_train.export import load_checkpoint_model  # noqa: E402
from veyra_train.features_ref import log_mel, right_align  # noqa: E402
from veyra_train.model import EndOfTurnNet  # noqa: E402
from veyra_train.graph_eval import run_graph  # noqa: E402

BUILD_BIN = os.path.join(HERE, "..", "..", "build-training", "bin")
PREPARE = os.path.join(BUILD_BIN, "veyra_train_prepare")
EVALUATE = os.path.join(BUILD_BIN, "veyra_train_evaluate")
MODEL = os.path.join(HERE, "..", "..", "models", "veyra_end_of_turn.onnx")


def _qdq_model(scale, zero_point, dtype):
    q = helper.make_node("QuantizeLinear", ["x", "s", "z"], ["q"])
    dq = helper.make_node("DequantizeLinear", ["q", "s", "z"], ["y"])
    graph = helper.make_graph(
        [q, dq], "g", [helper.make_tensor_value_info("x", TensorProto.FLOAT, [None])],
        [helper.make_tensor_value_info("y", TensorProto.FLOAT, [None])],
        [helper.make_tensor("s", TensorProto.FLOAT, [], [scale]),
         helper.make_tensor("z", dtype, [], [zero_point])])
    return helper.make_model(graph)


class QdqEvaluatorTest(unittest.TestCase):
    def test_uint8_round_trip_saturates_at_the_range_ends(self):
        model = _qdq_model(0.1, 10, TensorProto.UINT8)
        x = torch.tensor([-5.0, -1.0, 0.0, 0.04, 0.06, 24.5, 100.0])
        y = run_graph(model, x)
        # Range of the pair: (0 - 10) * 0.1 .. (255 - 10) * 0.1
        torch.testing.assert_close(y, torch.tensor([-1.0, -1.0, 0.0, 0.0, 0.1, 24.5, 24.5]))


def _tiny_features(directory, count=8, seed=0):
    rng = np.random.default_rng(seed)
    for split in ("train", "val"):
        features = rng.normal(0.0, 0.5, (count, 80, 800)).astype(np.float16)
        labels = [i % 2 for i in range(count)]
        features[np.array(labels) == 1, :, -50:] += 1.0  # something to learn
        np.save(os.path.join(directory, f"{split}.npy"), features)
        with open(os.path.join(directory, f"{split}.jsonl"), "w") as f:
            for label in labels:
                f.write(json.dumps({"label": label, "samples": 32000, "rate": 16000, "language": "en", "source": "tts"}) + "\n")


class StagedTrainingTest(unittest.TestCase):
    def _args(self, features, run, stage, minutes):
        return SimpleNamespace(features=features, run=run, stage=stage, minutes=minutes,
                               batch_size=4, eval_seconds=1e9, seed=1, positions=8,
                               match_lengths=False, dropout=0.1, init=None, learning_rate=None,
                               human_weight=1.0, group_priors=False, warp=0.0, tempo=0.0, mask_bands=0,
                               colour=0.0, bf16=False, simulate_int8=False, calibration_items=8,
                               stem_learning_rate=train.STEM_PEAK_LEARNING_RATE)

    def _head_run(self, tmp, minutes):
        """A run folder holding a finished head stage, on tiny features in tmp."""
        torch.set_num_threads(1)
        _tiny_features(tmp)
        run = os.path.join(tmp, "run")
        train.Trainer(self._args(tmp, run, "head", minutes)).run()
        return run

    def test_stages_resume_and_hand_over(self):
        with tempfile.TemporaryDirectory() as tmp:
            run = self._head_run(tmp, 0.05)
            head = torch.load(os.path.join(run, "last.pt"))
            self.assertEqual(head["state"]["stage"], "head")
            self.assertGreater(head["state"]["step"], 0)
            self.assertTrue(os.path.exists(os.path.join(run, "best.pt")))

            # A finished stage resumed with the same budget does no more steps.
            again = train.Trainer(self._args(tmp, run, "head", 0.05))
            self.assertEqual(again.state["step"], head["state"]["step"])

            # Resumed with a longer budget, the stage goes on from part-way
            # through its stretched schedule.
            longer = train.Trainer(self._args(tmp, run, "head", 0.1))
            self.assertGreater(longer.learning_rate(), 0.0)
            longer.run()
            self.assertGreater(longer.state["step"], head["state"]["step"])
            head = torch.load(os.path.join(run, "last.pt"))

            # The next stage starts its own schedule from the head's weights,
            # with the stem trainable and the encoder layers still identities.
            stem = train.Trainer(self._args(tmp, run, "stem", 0.05))
            self.assertEqual(stem.state["step"], 0)
            self.assertTrue(stem.model.conv1.weight.requires_grad)
            torch.testing.assert_close(stem.model.classifier.last.weight,
                                       head["model"]["classifier.last.weight"])
            for layer in stem.model.layers:
                self.assertEqual(float(layer.attention.out.weight.abs().sum()), 0.0)
            # The stem learns at its own, smaller rate; the head at the stage's.
            peaks = sorted(group["peak"] for group in stem.optimizer.param_groups)
            self.assertEqual(peaks, [train.STEM_PEAK_LEARNING_RATE, train.STAGE_LEARNING_RATES["stem"]])
            stem.run()
            after_stem = torch.load(os.path.join(run, "last.pt"))["model"]
            # Resumed, the stage takes the rates it is given now, not the saved ones.
            args = self._args(tmp, run, "stem", 0.05)
            args.stem_learning_rate = 2e-6
            resumed = train.Trainer(args)
            self.assertIn(2e-6, [group["peak"] for group in resumed.optimizer.param_groups])

            # The last stage trains the last encoder layer and the head on the
            # cached stem; the other layers stay identities.
            last = train.Trainer(self._args(tmp, run, "last", 0.05))
            self.assertEqual(last.model.skipped_layers, {0, 1, 2})
            self.assertIsNotNone(last.cache)
            last.run()
            after_last = torch.load(os.path.join(run, "last.pt"))["model"]
            self.assertGreater(float(after_last["layers.3.attention.out.weight"].abs().sum()), 0.0)
            self.assertEqual(float(after_last["layers.2.feed_forward_out.weight"].abs().sum()), 0.0)
            torch.testing.assert_close(after_last["conv2.weight"], after_stem["conv2.weight"])

            # The last2 stage adds the second-to-last layer, from identity,
            # without discarding what the last layer learned.
            last2 = train.Trainer(self._args(tmp, run, "last2", 0.15))  # slowest per step
            self.assertEqual(last2.model.skipped_layers, {0, 1})
            # Each of its two layers and the head is clipped on its own; the
            # last stage clips its parts together, as its recipe was measured.
            self.assertEqual(len(last2.clip_groups), 3)
            self.assertEqual(len(last.clip_groups), 1)
            self.assertTrue(last2.model.layers[2].attention.out.weight.requires_grad)
            torch.testing.assert_close(last2.model.layers[3].attention.out.weight,
                                       after_last["layers.3.attention.out.weight"])
            last2.run()
            before_window = torch.load(os.path.join(run, "last.pt"))["model"]
            self.assertGreater(float(before_window["layers.2.feed_forward_out.weight"].abs().sum()), 0.0)
            self.assertEqual(float(before_window["layers.1.feed_forward_out.weight"].abs().sum()), 0.0)

            # The window stage trains the encoder layers alone, from identity.
            window = train.Trainer(self._args(tmp, run, "window", 0.05))
            self.assertEqual(window.model.skipped_layers, set())
            self.assertTrue(all(p.requires_grad for p in window.model.layers.parameters()))
            self.assertFalse(window.model.conv1.weight.requires_grad)
            window.run()
            trained = torch.load(os.path.join(run, "last.pt"))["model"]
            self.assertGreater(float(trained["layers.3.attention.out.weight"].abs().sum()), 0.0)
            torch.testing.assert_close(trained["classifier.last.weight"],
                                       before_window["classifier.last.weight"])

            # Once the layers have learned, a stage that holds them as
            # identities refuses to start rather than wipe them.
            with self.assertRaises(SystemExit):
                train.Trainer(self._args(tmp, run, "last", 0.05))

    def test_a_new_run_starts_from_another_runs_weights_with_its_own_schedule(self):
        with tempfile.TemporaryDirectory() as tmp:
            run = self._head_run(tmp, 0.02)
            head = torch.load(os.path.join(run, "last.pt"))["model"]
            args = self._args(tmp, os.path.join(tmp, "tuned"), "head", 0.02)
            args.init, args.learning_rate = os.path.join(run, "last.pt"), 2e-4
            args.group_priors = True
            tuned = train.Trainer(args)
            self.assertEqual(tuned.state["step"], 0)
            self.assertEqual([group["peak"] for group in tuned.optimizer.param_groups], [2e-4])
            torch.testing.assert_close(tuned.model.classifier.last.weight, head["classifier.last.weight"])
            tuned.run()
            # Resumed, the new run goes on from its own checkpoint.
            self.assertGreater(train.Trainer(args).state["step"], 0)

    def test_varied_clips_train_the_last_stage_on_a_fresh_stem_held_still(self):
        with tempfile.TemporaryDirectory() as tmp:
            run = self._head_run(tmp, 0.02)
            args = self._args(tmp, run, "last", 0.1)  # a few steps even on a loaded machine
            args.warp, args.tempo, args.mask_bands = 0.1, 0.1, 10
            last = train.Trainer(args)
            self.assertIsNone(last.cache)        # no stored stem output for training
            self.assertIsNotNone(last.val_cache)  # validation sees the clips as stored
            stem_before = last.model.conv2.weight.detach().clone()
            last.run()
            self.assertGreater(last.state["step"], 0)
            self.assertGreater(float(last.model.layers[3].attention.out.weight.abs().sum()), 0.0)
            torch.testing.assert_close(last.model.conv2.weight, stem_before, atol=0.0, rtol=0.0)

    def test_the_last_stage_trains_and_validates_through_the_int8_rounding(self):
        with tempfile.TemporaryDirectory() as tmp:
            run = self._head_run(tmp, 0.02)
            args = self._args(tmp, run, "last", 0.1)
            args.simulate_int8, args.colour, args.bf16 = True, 4.0, train.cpu_has_bf16_units()
            last = train.Trainer(args)
            places = last.simulation.parameters
            self.assertIn("conv1.in", places)
            self.assertIn("layers.3.attention.mix.a", places)
            self.assertFalse(any(place.startswith("layers.0.") for place in places))  # skipped
            every = np.arange(len(last.val_y))
            with torch.no_grad(), last._rounding():
                simulated = last._scores(every, last.val_x, last.val_cache)
            simulation, last.simulation = last.simulation, None
            with torch.no_grad():
                plain = last._scores(every, last.val_x, last.val_cache)
            # Validation is rounded from the stem up, not computed in float.
            self.assertGreater(float((simulated - plain).abs().max()), 0.0)
            self.assertGreater(float(np.abs(last._stem_cache(last.val_x) - last.val_cache).max()), 0.0)
            last.simulation = simulation
            last.run()
            self.assertGreater(last.state["step"], 0)
            self.assertTrue(os.path.exists(os.path.join(run, "best.pt")))

    def test_the_stem_learns_beside_the_last_layer_while_the_others_stay_identities(self):
        with tempfile.TemporaryDirectory() as tmp:
            run = self._head_run(tmp, 0.02)
            train.Trainer(self._args(tmp, run, "last", 0.02)).run()
            after_last = torch.load(os.path.join(run, "last.pt"))["model"]
            args = self._args(tmp, run, "last_stem", 0.1)
            # The stem, a layer and the head, learning through bf16 products
            # wherever training would use them.
            args.bf16 = train.cpu_has_bf16_units()
            both = train.Trainer(args)
            self.assertEqual(both.model.skipped_layers, {0, 1, 2})
            self.assertIsNone(both.cache)  # the stem's output changes every step
            self.assertEqual(len(both.clip_groups), 3)  # stem, last layer, head
            both.run()
            trained = torch.load(os.path.join(run, "last.pt"))["model"]
            for name in ("conv1.weight", "conv2.weight", "layers.3.attention.out.weight",
                         "classifier.last.weight"):
                self.assertFalse(torch.equal(trained[name], after_last[name]), name)
            self.assertEqual(float(trained["layers.2.feed_forward_out.weight"].abs().sum()), 0.0)

    def test_stem_weight_gradients_are_exact(self):
        # Guards how training computes the stem: some convolution kernels
        # return zeros or infinities for these gradients instead of failing.
        torch.manual_seed(3)
        net = EndOfTurnNet()
        reference = EndOfTurnNet().double()
        reference.load_state_dict(net.state_dict())
        features = torch.randn(2, 80, 800)
        upstream = torch.randn(2, 400, 384)
        for model, x, g in ((net, features, upstream), (reference, features.double(), upstream.double())):
            (model.stem(x) * g).sum().backward()
        for name in ("conv1", "conv2"):
            got = getattr(net, name).weight.grad.double()
            want = getattr(reference, name).weight.grad
            self.assertLess(float((got - want).norm() / want.norm()), 1e-4, name)

    @unittest.skipUnless(train.cpu_has_bf16_units(), "training steps run in fp32 on this CPU")
    def test_bf16_gradients_follow_the_fp32_ones(self):
        # Every part of the network under autocast, against fp32: a norm or
        # softmax left in bf16, or a dtype mix-up, shows here.
        torch.manual_seed(4)
        net = EndOfTurnNet()
        for layer in net.layers:
            with torch.no_grad():
                layer.attention.out.weight.normal_(0.0, 0.02)
                layer.feed_forward_out.weight.normal_(0.0, 0.02)
        features = torch.randn(2, 80, 800) * 0.5
        target = torch.ones(2, 1)  # one class, so that no gradient cancels to near zero
        gradients = []
        for bf16 in (False, True):
            net.zero_grad()
            with torch.autocast("cpu", dtype=torch.bfloat16, enabled=bf16):
                scores = net.score(features).float()
            F.binary_cross_entropy_with_logits(scores, target).backward()
            gradients.append({name: p.grad.clone() for name, p in net.named_parameters()})
        del gradients[0]["pooling.score.bias"]  # none to follow: softmax ignores a shift
        for name, want in gradients[0].items():
            got = gradients[1][name]
            self.assertEqual(got.dtype, torch.float32, name)
            self.assertLess(float((got - want).norm() / want.norm()), 0.1, name)  # measured: 1.5% at most

    def test_bf16_is_used_only_where_the_cpu_has_bf16_units(self):
        # Emulated bf16 is many times slower than fp32: a time-budgeted stage
        # would barely train, so only native units count.
        cases = {"flags\t\t: fpu sse2 avx avx2 fma\n": False,
                 "processor\t: 0\nflags\t\t: avx2 avx512f avx512_bf16\n": True,
                 "flags\t\t: avx2 amx_bf16 amx_tile\n": True,
                 "processor\t: 0\n": False}
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "cpuinfo")
            for text, want in cases.items():
                with open(path, "w") as f:
                    f.write(text)
                self.assertEqual(train.cpu_has_bf16_units(path), want, text)
            self.assertFalse(train.cpu_has_bf16_units(os.path.join(folder, "missing")))

    def test_resuming_a_stage_saved_with_other_optimizer_groups_is_refused(self):
        with tempfile.TemporaryDirectory() as tmp:
            run = self._head_run(tmp, 0.02)
            path = os.path.join(run, "last.pt")
            saved = torch.load(path)
            groups = saved["optimizer"]["param_groups"]
            saved["optimizer"]["param_groups"] = groups + [dict(groups[0], params=[])]
            torch.save(saved, path)
            with self.assertRaises(SystemExit):
                train.Trainer(self._args(tmp, run, "head", 0.05))

    def test_learning_rate_warms_up_then_decays_to_zero(self):
        trainer = SimpleNamespace(args=SimpleNamespace(minutes=10.0), state={})
        peak = train.STAGE_LEARNING_RATES["stem"]
        rates = []
        for elapsed in (0.0, 15.0, 30.0, 300.0, 600.0):
            trainer.state["elapsed"] = elapsed
            rates.append(train.Trainer.learning_rate(trainer, peak))
        self.assertEqual(rates[0], 0.0)
        self.assertAlmostEqual(rates[2], peak)
        self.assertLess(rates[3], peak)
        self.assertAlmostEqual(rates[4], 0.0)

    def test_batches_balance_the_classes_within_each_group(self):
        # Human clips mostly complete, synthetic ones mostly incomplete; one
        # group with a single class cannot be paired and is never drawn.
        labels = np.array([1] * 90 + [0] * 10 + [1] * 20 + [0] * 80 + [1] * 5, dtype=np.float32)
        groups = ["human"] * 100 + ["tts"] * 100 + ["only"] * 5
        batches = train.balanced_batches(labels, groups, 16, np.random.default_rng(0))
        drawn = {"human": [], "tts": []}
        for _ in range(200):
            batch = next(batches)
            self.assertEqual(int(labels[batch].sum()), 8)
            for first, second in batch.reshape(-1, 2):
                self.assertEqual(groups[first], groups[second])
                drawn[groups[first]] += [labels[first], labels[second]]
        for group, values in drawn.items():
            self.assertAlmostEqual(np.mean(values), 0.5, msg=group)
        self.assertAlmostEqual(len(drawn["human"]) / len(drawn["tts"]), 1.0, delta=0.15)
        weighted = train.balanced_batches(labels, groups, 16, np.random.default_rng(0),
                                          lambda group: 0.25 if group == "human" else 1.0)
        chosen = np.concatenate([next(weighted) for _ in range(200)])
        human_share = np.mean(np.array(groups)[chosen] == "human")
        self.assertAlmostEqual(human_share, 0.2, delta=0.03)
        with self.assertRaises(SystemExit):
            next(train.balanced_batches(labels[:90], groups[:90], 16, np.random.default_rng(0)))

    def test_group_priors_tilt_each_pair_to_its_groups_share_of_complete_clips(self):
        labels = np.array([1, 1, 1, 0, 1, 0], dtype=np.float32)
        groups = ["es/human"] * 4 + ["es/tts"] * 2
        weights = train.group_prior_weights(labels, groups)
        np.testing.assert_allclose(weights, [1.5, 1.5, 1.5, 0.5, 1.0, 1.0])

    def test_length_matched_pairs_share_a_length_bin(self):
        # Complete clips long, incomplete ones short, overlapping at 2.0-2.25 s only.
        labels = np.array([1] * 50 + [0] * 50, dtype=np.float32)
        seconds = np.concatenate([np.linspace(2.0, 6.0, 50), np.linspace(0.5, 2.2, 50)])
        batches = train.length_matched_batches(labels, seconds, 16, np.random.default_rng(0))
        for _ in range(5):
            batch = next(batches)
            self.assertEqual(int(labels[batch].sum()), 8)
            self.assertTrue(np.all((seconds[batch] >= 2.0) & (seconds[batch] < 2.25)))
        with self.assertRaises(SystemExit):
            next(train.length_matched_batches(labels, seconds + 10 * labels, 16, np.random.default_rng(0)))


class CheckpointAveragingTest(unittest.TestCase):
    def test_the_mean_of_two_runs_loads_as_the_network(self):
        with tempfile.TemporaryDirectory() as tmp:
            paths = [os.path.join(tmp, f"{seed}.pt") for seed in (1, 2)]
            for seed, path in zip((1, 2), paths):
                torch.manual_seed(seed)
                torch.save({"model": EndOfTurnNet().state_dict(), "state": {"step": seed}}, path)
            first, second = (torch.load(path)["model"] for path in paths)
            out = os.path.join(tmp, "averaged.pt")
            subprocess.run([sys.executable, os.path.join(HERE, "..", "average_checkpoints.py"),
                            "--out", out, *paths], check=True, capture_output=True)
            model = load_checkpoint_model(out)
            name = "classifier.last.weight"
            torch.testing.assert_close(model.classifier.last.weight, (first[name] + second[name]) / 2)

    def test_checkpoints_of_other_networks_are_refused(self):
        with tempfile.TemporaryDirectory() as tmp:
            torch.save({"model": EndOfTurnNet().state_dict()}, os.path.join(tmp, "a.pt"))
            torch.save({"model": {"classifier.last.weight": torch.zeros(1, 3)}}, os.path.join(tmp, "b.pt"))
            with self.assertRaises(SystemExit):
                average_weights([os.path.join(tmp, "a.pt"), os.path.join(tmp, "b.pt")])


@unittest.skipUnless(os.path.exists(PREPARE) and os.path.exists(EVALUATE),
                     "training tools not built (VEYRA_BUILD_TRAINING_TOOLS)")
class NativeToolsTest(unittest.TestCase):
    def test_prepare_matches_the_reference_and_keeps_the_newest_8_seconds(self):
        rng = np.random.default_rng(2)
        long_clip = (0.1 * rng.standard_normal(150000)).astype(np.float32)  # > 8 s at 16 kHz
        short_clip = (0.1 * rng.standard_normal(20000)).astype(np.float32)
        with tempfile.TemporaryDirectory() as tmp:
            listing = os.path.join(tmp, "list.txt")
            with open(listing, "w") as f:
                for i, clip in enumerate((long_clip, short_clip)):
                    clip.tofile(os.path.join(tmp, f"{i}.f32"))
                    f.write(f"16000 {os.path.join(tmp, f'{i}.f32')}\n")
            out = os.path.join(tmp, "features.f32")
            subprocess.run([PREPARE, listing, out], check=True)
            features = np.fromfile(out, np.float32).reshape(2, 80, 800)
        for clip, computed in zip((long_clip, short_clip), features):
            np.testing.assert_allclose(computed, log_mel(right_align(clip)), atol=1e-4)

    def test_prepare_rejects_a_bad_list(self):
        with tempfile.TemporaryDirectory() as tmp:
            listing = os.path.join(tmp, "list.txt")
            with open(listing, "w") as f:
                f.write("not-a-rate clip.f32\n")
            result = subprocess.run([PREPARE, listing, os.path.join(tmp, "out.f32")],
                                    capture_output=True, text=True)
        self.assertEqual(result.returncode, 1)
        self.assertIn("bad line", result.stderr)

    def test_evaluate_scores_every_item_as_a_probability(self):
        with tempfile.TemporaryDirectory() as tmp:
            features = os.path.join(tmp, "features.f32")
            np.full((3, 80, 800), -1.5, np.float32).tofile(features)
            out = os.path.join(tmp, "p.txt")
            subprocess.run([EVALUATE, MODEL, features, out, "2"], check=True)
            probabilities = np.loadtxt(out, ndmin=1)
        self.assertEqual(len(probabilities), 3)
        self.assertTrue(np.all((probabilities >= 0) & (probabilities <= 1)))
        self.assertEqual(len(set(probabilities.tolist())), 1)  # same input, same answer

    def test_shipped_model_in_onnx_runtime_follows_its_quantised_arithmetic(self):
        # Voiced, falling-pitch signals drive the integer kernels hard enough
        # that saturating weights would move the answer by a tenth or more.
        t = np.arange(48000) / 16000
        rng = np.random.default_rng(3)
        clips = []
        for f0 in (110, 180, 240):
            phase = 2 * np.pi * np.cumsum(f0 * (1 - 0.2 * t / t[-1])) / 16000
            voiced = sum(np.sin(k * phase) / k for k in range(1, 20)) * (0.5 + 0.5 * np.sin(6 * np.pi * t))
            clips.append((0.1 * voiced + 0.01 * rng.standard_normal(len(t))).astype(np.float32))
        features = np.stack([log_mel(right_align(clip)) for clip in clips]).astype(np.float32)
        with tempfile.TemporaryDirectory() as tmp:
            features.tofile(os.path.join(tmp, "features.f32"))
            out = os.path.join(tmp, "p.txt")
            subprocess.run([EVALUATE, MODEL, os.path.join(tmp, "features.f32"), out], check=True)
            runtime = np.loadtxt(out, ndmin=1)
        simulated = run_graph(onnx.load(MODEL), torch.from_numpy(features)).reshape(-1).numpy()
        np.testing.assert_allclose(runtime, simulated, atol=0.02)

    def test_evaluate_rejects_a_truncated_feature_file(self):
        with tempfile.TemporaryDirectory() as tmp:
            features = os.path.join(tmp, "features.f32")
            np.zeros(1000, np.float32).tofile(features)
            result = subprocess.run([EVALUATE, MODEL, features, os.path.join(tmp, "p.txt")],
                                    capture_output=True, text=True)
        self.assertEqual(result.returncode, 1)
        self.assertIn("whole number", result.stderr)


if __name__ == "__main__":
    unittest.main()
