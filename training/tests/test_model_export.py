"""The exported graphs keep the model contract and agree with the network."""
import os
import sys
import unittest

import numpy as np
import onnx
import torch
from onnx import TensorProto, numpy_helper

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from veyra_train.export import export_float  # noqa: E402
from veyra_train.graph_eval import run_graph  # noqa: E402
from veyra_train.int8_simulation import Int8Simulation, simulating  # noqa: E402
from veyra_train.model import EndOfTurnNet  # noqa: E402
from veyra_train.quantize import (ActivationSampler, _QdqBuilder, activation_tensors,  # noqa: E402
                                  calibrate, compensated_levels, int8_per_channel,
                                  least_error_range, quantise, rounding_error, simplify,
                                  uint8_parameters, unshare_parameters)
from veyra_train.recover import recover_network  # noqa: E402

SHIPPED_MODEL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "models",
                             "veyra_end_of_turn.onnx")

torch.set_num_threads(int(os.environ.get("OMP_NUM_THREADS", "2")))


def _features(batch, seed):
    return torch.from_numpy(np.random.default_rng(seed).normal(0.0, 0.5, (batch, 80, 800)).astype(np.float32))


class ExportTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        torch.manual_seed(3)
        cls.net = EndOfTurnNet()
        cls.net.set_dropout(0.5)  # training only: neither graph may carry it
        cls.net.eval()
        cls.float_model = export_float(cls.net)
        cls.int8_model = quantise(cls.float_model, [_features(4, 1), _features(4, 2)])

    def test_contract_input_and_output(self):
        graph = self.int8_model.graph
        self.assertEqual([i.name for i in graph.input], ["input_features"])
        dims = graph.input[0].type.tensor_type.shape.dim
        self.assertTrue(dims[0].dim_param)  # symbolic batch
        self.assertEqual([d.dim_value for d in dims[1:]], [80, 800])
        self.assertEqual(graph.input[0].type.tensor_type.elem_type, TensorProto.FLOAT)
        self.assertEqual(graph.output[0].name, "logits")
        self.assertEqual(graph.node[-1].op_type, "Sigmoid")
        onnx.checker.check_model(self.int8_model)

    def test_float_graph_matches_network(self):
        x = _features(2, 5)
        with torch.no_grad():
            expected = self.net(x)
        torch.testing.assert_close(run_graph(self.float_model, x), expected, atol=1e-5, rtol=1e-4)

    def test_quantised_graph_layout(self):
        graph = self.int8_model.graph
        ops = [n.op_type for n in graph.node]
        self.assertEqual(ops.count("QuantizeLinear"), 78)
        self.assertEqual(ops.count("DequantizeLinear"), 114)
        self.assertNotIn("Constant", ops)
        self.assertNotIn("Identity", ops)
        self.assertNotIn("Dropout", ops)
        weights = [i for i in graph.initializer if i.name.endswith("_quantized")]
        self.assertEqual(sum(i.data_type == TensorProto.INT8 for i in weights), 31)
        self.assertEqual(sum(i.data_type == TensorProto.INT32 for i in weights), 5)
        # The model input itself is quantised.
        self.assertIn("input_features", [n.input[0] for n in graph.node if n.op_type == "QuantizeLinear"])
        self.assertEqual(self.int8_model.producer_name, "onnx.quantize")

    def test_bias_scale_is_input_times_weight_scale(self):
        values = {i.name: numpy_helper.to_array(i) for i in self.int8_model.graph.initializer}
        conv = next(n for n in self.int8_model.graph.node if n.op_type == "Conv")
        input_scale = values["input_features_scale"]
        weight_scale = values[conv.input[1].replace("_dequantized", "_scale")]
        bias_scale = values[conv.input[2].replace("_dequantized", "_scale")]
        np.testing.assert_allclose(bias_scale, input_scale * weight_scale, rtol=1e-6)

    def test_quantised_probabilities_stay_close(self):
        x = _features(3, 9)
        with torch.no_grad():
            expected = self.net(x)
        self.assertLess(float((run_graph(self.int8_model, x) - expected).abs().max()), 0.05)


class _NearestRounding:
    """Input moments that ask for plain nearest rounding of every weight."""

    def of(self, weight_name):
        return None


class Int8SimulationTest(unittest.TestCase):
    """Training that simulates the int8 file must round where the file does."""

    @classmethod
    def setUpClass(cls):
        torch.manual_seed(5)
        cls.net = EndOfTurnNet().eval()
        # As trained: with four random layers, the one-step differences that
        # float rounding order starts at the stem compound into noise.
        cls.net.skip_layers(range(3))
        calibration = [_features(4, 11), _features(4, 12)]
        graph = export_float(cls.net)
        simplify(graph)
        unshare_parameters(graph)
        cls.graph_extremes = cls._graph_extremes(graph, calibration)
        cls.graph_ranges, _ = calibrate(graph, calibration)
        _QdqBuilder(graph, cls.graph_ranges, _NearestRounding()).rewrite()
        cls.int8_graph = graph
        cls.simulation = Int8Simulation(cls.net)
        cls.simulation.calibrate(cls.net, calibration)

    @staticmethod
    def _graph_extremes(graph, batches):
        """(lowest, highest) of every activation the quantiser rounds."""
        sampler = ActivationSampler(activation_tensors(graph))
        for batch in batches:
            sampler(graph.graph.input[0].name, batch)
            run_graph(graph, batch, sampler)
        return {name: (sampler.low[name], sampler.high[name]) for name in sampler.watched}

    def _graph_tensor(self, place):
        """The graph activation that a simulated place rounds, known by its
        extremes in calibration and, where layers at identity pass the same
        values on, by its layer."""
        def same(a, b):
            return all(abs(x - y) <= 1e-4 * max(1.0, abs(x)) for x, y in zip(a, b))

        extremes = self.simulation.extremes[place]
        matches = [name for name, e in self.graph_extremes.items() if same(extremes, e)]
        layer = "/" + ".".join(place.split(".")[:2]) + "/"
        return next((name for name in matches if layer in name), matches[0] if matches else None)

    def test_the_simulation_rounds_the_tensors_the_quantiser_rounds(self):
        matched = {place: self._graph_tensor(place) for place in self.simulation.extremes}
        self.assertNotIn(None, matched.values())
        # Left over: the skipped layers, and the copy the graph reshapes
        # between the attention's two products.
        left = {name for name in set(self.graph_extremes) - set(matched.values())
                if not any(f"/layers.{i}/" in name for i in self.net.skipped_layers)}
        self.assertEqual(len(left), 1, left)
        self.assertIn(left.pop().rsplit("/", 1)[1], {"Reshape_3_output_0", "MatMul_1_output_0"})

    def test_with_the_quantiser_s_ranges_the_stem_rounds_to_the_graph_s_levels(self):
        # Deeper in, values a hair from a rounding boundary (summation order)
        # land one step apart and the differences compound.
        rounded = {}

        class Recording(Int8Simulation):
            def activation(self, x, module, role):
                result = super().activation(x, module, role)
                rounded[f"{self.names[module]}.{role}"] = result
                return result

        simulation = Recording(self.net)
        simulation.parameters = {place: uint8_parameters(*self.graph_ranges[self._graph_tensor(place)])
                                 for place in self.simulation.extremes}
        x = _features(2, 13)
        with torch.no_grad(), simulating(simulation):
            self.net(x)
        graph = {}
        run_graph(self.int8_graph, x, lambda name, value: graph.__setitem__(name, value))
        for place, most_apart in (("conv1.in", 0.0), ("conv1.out", 0.01), ("conv2.in", 0.01),
                                  ("conv2.out", 0.03)):
            step = simulation.parameters[place][0]
            in_graph = graph[self._graph_tensor(place) + "_dequantized"]
            levels_apart = (rounded[place].transpose(1, 2) - in_graph).abs() / step  # time-major
            self.assertLess(float(levels_apart.max()), 2.01, place)  # a flip, then through GELU
            self.assertLessEqual(float((levels_apart > 0.5).float().mean()), most_apart, place)

    def test_gradients_pass_through_the_rounding(self):
        with simulating(self.simulation):  # calibration clips: most values lie within the ranges
            self.net(_features(4, 11)).sum().backward()
        for linear in (self.net.layers[3].attention.query, self.net.classifier.last):
            self.assertGreater(float(linear.weight.grad.abs().sum()), 0.0)
        self.net.zero_grad()

    def test_export_is_unchanged_after_simulating(self):
        x = _features(1, 15)
        with torch.no_grad():
            expected = self.net(x)
        torch.testing.assert_close(run_graph(export_float(self.net), x), expected, atol=1e-5, rtol=1e-4)


class SkippedLayersTest(unittest.TestCase):
    def test_skipped_layers_are_identities(self):
        torch.manual_seed(4)
        net = EndOfTurnNet().eval()
        net.skip_layers(range(4))
        x = _features(1, 2)
        with torch.no_grad():
            skipped = net(x)
            net.skipped_layers = set()
            computed = net(x)
        torch.testing.assert_close(skipped, computed, atol=0.0, rtol=0.0)


class WindowTest(unittest.TestCase):
    def test_window_stem_equals_the_full_stem_at_the_newest_positions(self):
        torch.manual_seed(5)
        net = EndOfTurnNet().eval()
        x = _features(2, 4)
        with torch.no_grad():
            full = net.stem(x)
            for positions in (1, 2, 127, 399):
                # Up to rounding: a product over a shorter slice may sum in another order.
                torch.testing.assert_close(net.stem(x, positions), full[:, -positions:],
                                           atol=1e-6, rtol=0.0)


class SharedWeightsTest(unittest.TestCase):
    def test_layers_at_identity_still_get_their_own_weights(self):
        # Zeroed projections are equal tensors, which the exporter merges.
        torch.manual_seed(6)
        net = EndOfTurnNet().eval()
        net.skip_layers(range(4))
        model = quantise(export_float(net), [_features(2, 1)])
        onnx.checker.check_model(model)
        names = [i.name for i in model.graph.initializer]
        self.assertEqual(len(names), len(set(names)))
        weights = [i for i in model.graph.initializer if i.data_type == TensorProto.INT8
                   and i.name.endswith("_quantized")]
        self.assertEqual(len(weights), 31)


class QuantisationArithmeticTest(unittest.TestCase):
    def test_per_channel_weights_round_trip_within_half_a_step(self):
        weight = np.random.default_rng(0).normal(size=(16, 8, 3)).astype(np.float32)
        weight[3] *= 100.0  # one loud channel must not coarsen the others
        quantised, scale = int8_per_channel(weight, 0)
        restored = quantised.astype(np.float32) * scale[:, None, None]
        self.assertTrue(np.all(np.abs(restored - weight) <= scale[:, None, None] / 2 + 1e-6))
        self.assertLess(scale[0], scale[3] / 50)

    def test_weights_leave_16_bit_pair_sums_unsaturated(self):
        weight = np.random.default_rng(1).normal(size=(8, 40)).astype(np.float32)
        quantised, _ = int8_per_channel(weight, 0)
        peak = int(np.abs(quantised.astype(np.int32)).max())
        self.assertLessEqual(2 * 255 * peak, 2**15 - 1)
        self.assertEqual(peak, 63)  # and use the whole range that allows

    def test_uint8_parameters_cover_the_range_and_zero(self):
        scale, zero_point = uint8_parameters(-1.5, 2.0)
        self.assertAlmostEqual(float(scale), 3.5 / 255, places=7)
        self.assertAlmostEqual((0 - int(zero_point)) * float(scale), -1.5, delta=float(scale))
        scale, zero_point = uint8_parameters(0.0, 1.0)  # softmax output
        self.assertEqual(int(zero_point), 0)

    def test_a_long_tail_does_not_set_the_step_for_every_value(self):
        values = np.random.default_rng(2).laplace(0.0, 1.0, 200000).astype(np.float32)
        extremes = (float(values.min()), float(values.max()))
        low, high = least_error_range(values, *extremes)
        self.assertLess(high - low, 0.9 * (extremes[1] - extremes[0]))
        self.assertLess(rounding_error(values, low, high), 0.8 * rounding_error(values, *extremes))

    def test_evenly_spread_values_keep_their_whole_range(self):
        values = np.random.default_rng(3).uniform(-1.0, 2.0, 100000).astype(np.float32)
        low, high = least_error_range(values, float(values.min()), float(values.max()))
        self.assertGreater(high - low, 0.97 * 3.0)
        self.assertLessEqual(low, 0.0)  # zero stays representable
        self.assertGreaterEqual(low, float(values.min()))
        self.assertLessEqual(high, float(values.max()))


class CompensatedRoundingTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        rng = np.random.default_rng(4)
        # Inputs that vary together, as neighbouring bands and channels do.
        cls.inputs = rng.normal(size=(4000, 6)) @ rng.normal(size=(6, 48)) \
            + 0.1 * rng.normal(size=(4000, 48))
        cls.moment = cls.inputs.T @ cls.inputs / len(cls.inputs)
        cls.weight = rng.normal(size=(24, 48)).astype(np.float32)
        cls.nearest, cls.scale = int8_per_channel(cls.weight, 0)

    def output_error(self, levels):
        restored = levels.astype(np.float64) * self.scale[:, None]
        return float(np.mean((self.inputs @ (restored - self.weight).T) ** 2))

    def test_outputs_stay_closer_to_float_than_with_nearest_rounding(self):
        levels = compensated_levels(self.weight, self.moment, self.scale)
        self.assertLess(self.output_error(levels), 0.5 * self.output_error(self.nearest))

    def test_levels_keep_the_peak_and_its_scale(self):
        levels = compensated_levels(self.weight, self.moment, self.scale).astype(np.int32)
        np.testing.assert_array_equal(np.abs(levels).max(axis=1), 63)
        peaks = np.abs(self.weight).argmax(axis=1)
        rows = np.arange(len(levels))
        np.testing.assert_array_equal(levels[rows, peaks], 63 * np.sign(self.weight[rows, peaks]))

    def test_weights_on_the_grid_keep_their_levels(self):
        on_grid = (self.nearest.astype(np.float32) * self.scale[:, None]).astype(np.float32)
        np.testing.assert_array_equal(compensated_levels(on_grid, self.moment, self.scale), self.nearest)


def _int8_weights(model):
    return {i.name: numpy_helper.to_array(i) for i in model.graph.initializer
            if i.data_type == TensorProto.INT8}


class RecoveryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        torch.manual_seed(8)
        cls.net = EndOfTurnNet().eval()
        cls.net.skip_layers(range(3))  # as trained: three layers at identity
        cls.calibration = [_features(2, 3)]

    def test_the_float_export_gives_back_every_weight_exactly(self):
        recovered = recover_network(export_float(self.net)).state_dict()
        for name, value in self.net.state_dict().items():
            torch.testing.assert_close(recovered[name], value, atol=0.0, rtol=0.0, msg=name)

    def test_the_int8_export_gives_back_weights_that_quantise_to_the_same_integers(self):
        int8_model = quantise(export_float(self.net), self.calibration)
        recovered = recover_network(int8_model)
        self.assertTrue(all(recovered.layers[i].is_identity() for i in range(3)))
        again = quantise(export_float(recovered), self.calibration)
        expected, actual = _int8_weights(int8_model), _int8_weights(again)
        self.assertEqual(expected.keys(), actual.keys())
        for name in expected:
            np.testing.assert_array_equal(actual[name], expected[name], err_msg=name)

    def test_the_shipped_model_recovers_to_the_weights_it_computes_with(self):
        shipped = onnx.load(SHIPPED_MODEL)
        recovered = recover_network(shipped)
        again = quantise(export_float(recovered), self.calibration)
        expected, actual = _int8_weights(shipped), _int8_weights(again)
        self.assertEqual(expected.keys(), actual.keys())
        for name in expected:
            np.testing.assert_array_equal(actual[name], expected[name], err_msg=name)
        # Only activation rounding is left between them.
        x = _features(2, 11)
        with torch.no_grad():
            self.assertLess(float((recovered(x) - run_graph(shipped, x)).abs().max()), 0.1)

    def test_another_graph_is_refused(self):
        other = onnx.helper.make_model(onnx.helper.make_graph(
            [onnx.helper.make_node("Add", ["x", "c"], ["y"], name="/Add")], "other",
            [onnx.helper.make_tensor_value_info("x", TensorProto.FLOAT, [4])],
            [onnx.helper.make_tensor_value_info("y", TensorProto.FLOAT, [4])],
            [numpy_helper.from_array(np.ones(4, np.float32), "c")]))
        with self.assertRaisesRegex(ValueError, "not a graph of this network"):
            recover_network(other)


if __name__ == "__main__":
    unittest.main()
