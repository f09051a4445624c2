"""Float ONNX export of the end-of-turn network."""
import io

import onnx
import torch

from .model import NUM_FRAMES, NUM_MEL_BANDS, EndOfTurnNet

INPUT_NAME = "input_features"
OUTPUT_NAME = "logits"
# The newest opset this torch exporter writes; the quantiser raises the
# import to 18 afterwards (no operator used here changed between 17 and 18).
EXPORT_OPSET = 17


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
