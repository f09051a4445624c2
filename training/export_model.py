#!/usr/bin/python3
"""Exports the end-of-turn network to float ONNX and to the int8 QDQ model.

    /usr/bin/python3 training/export_model.py --checkpoint runs/NAME/best.pt \
        --calibration work/features/train.npy --float-out F.onnx --int8-out Q.onnx

--untrained exports freshly initialised weights (seeded) instead of a checkpoint.
"""
import argparse
import os
import sys

import numpy as np
import onnx
import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from veyra_train.export import export_float, load_checkpoint_model  # noqa: E402
from veyra_train.model import EndOfTurnNet  # noqa: E402
from veyra_train.quantize import quantise  # noqa: E402
from veyra_train.workdir import require_output_files  # noqa: E402

# IR version of the embedded image; ONNX Runtime 1.29 loads it. The onnx 1.12
# checker only knows IR 8, so the model is checked before the version is raised.
EMBEDDED_IR_VERSION = 10


def calibration_batches(path, count, batch_size, seed):
    features = np.load(path, mmap_mode="r")
    rng = np.random.default_rng(seed)
    chosen = np.sort(rng.choice(len(features), size=min(count, len(features)), replace=False))
    for start in range(0, len(chosen), batch_size):
        rows = chosen[start:start + batch_size]
        yield torch.from_numpy(np.asarray(features[rows], dtype=np.float32))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    source = parser.add_mutually_exclusive_group(required=True)
    source.add_argument("--checkpoint")
    source.add_argument("--untrained", action="store_true")
    parser.add_argument("--calibration", required=True, help="features .npy [N, 80, 800]")
    parser.add_argument("--calibration-items", type=int, default=128)
    parser.add_argument("--float-out", required=True)
    parser.add_argument("--int8-out", required=True)
    parser.add_argument("--seed", type=int, default=1234)
    args = parser.parse_args()
    require_output_files(parser, float_out=args.float_out, int8_out=args.int8_out)

    torch.manual_seed(args.seed)
    model = EndOfTurnNet().eval() if args.untrained else load_checkpoint_model(args.checkpoint)
    float_model = export_float(model)
    onnx.checker.check_model(float_model)
    onnx.save(float_model, args.float_out)

    batches = calibration_batches(args.calibration, args.calibration_items, 16, args.seed)
    int8_model = quantise(float_model, batches)
    onnx.checker.check_model(int8_model)
    int8_model.ir_version = EMBEDDED_IR_VERSION
    onnx.save(int8_model, args.int8_out)
    print(f"wrote {args.float_out} and {args.int8_out} ({os.path.getsize(args.int8_out)} bytes)")


if __name__ == "__main__":
    main()
