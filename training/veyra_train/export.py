"""Float ONNX export of the end-of-turn network."""
import io

import numpy as np
import onnx
import torch

from .model import NUM_FRAMES, NUM_MEL_BANDS, EndOfTurnNet

INPUT_NAME = "input_features"
OUTPUT_NAME = "logits"
# The newest opset this torch exporter writes; the quantiser raises the
# import to 18 afterwards (no operator used here changed between 17 and 18).
EXPORT_OPSET = 17
# Calibration draws its clips with this seed unless told otherwise, so that
# training which simulates the int8 file calibrates on the clips the export does.
CALIBRATION_SEED = 1234
CALIBRATION_BATCH = 16


def export_float(model: EndOfTurnNet) -> onnx.ModelProto:
    model = model.eval()
    example = torch.zeros(1, NUM_MEL_BANDS, NUM_FRAMES)
    buffer = io.BytesIO()
    with torch.no_grad():
        torch.onnx.export(
            model, example, buffer,
            input_names=[INPUT_NAME], output_names=[OUTPUT_NAME],
            dynamic_axes={INPUT_NAME: {0: "batch"}, OUTPUT_NAME: {0: "batch"}},
            opset_version=EXPORT_OPSET, do_constant_folding=True)
    exported = onnx.load_from_string(buffer.getvalue())
    exported.graph.name = "main_graph"
    return exported


def load_checkpoint_model(path: str) -> EndOfTurnNet:
    model = EndOfTurnNet()
    state = torch.load(path, map_location="cpu")
    model.load_state_dict(state["model"] if "model" in state else state)
    return model.eval()


def calibration_batches(features, count, seed=CALIBRATION_SEED):
    """Batches of `count` clips of `features` [N, 80, 800] (an array or a
    memory map), drawn at random without repeats, in file order."""
    rng = np.random.default_rng(seed)
    chosen = np.sort(rng.choice(len(features), size=min(count, len(features)), replace=False))
    for start in range(0, len(chosen), CALIBRATION_BATCH):
        rows = chosen[start:start + CALIBRATION_BATCH]
        yield torch.from_numpy(np.asarray(features[rows], dtype=np.float32))
