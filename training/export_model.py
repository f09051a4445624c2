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
from veyra_train.export import (CALIBRATION_SEED, calibration_batches, export_float,  # noqa: E402
                                load_checkpoint_model)
from veyra_train.model import EndOfTurnNet  # noqa: E402
from veyra_train.quantize import quantise  # noqa: E402
from veyra_train.workdir import require_output_files  # noqa: E402

# IR version of the embedded image; ONNX Runtime 1.29 loads it. The onnx 1.12
# checker only knows IR 8, so the model is checked before the version is raised.
EMBEDDED_IR_VERSION = 10


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    source = parser.add_mutually_exclusive_group(required=True)
    source.add_argument("--checkpoint")
    source.add_argument("--untrained", action="store_true")
    parser.add_argument("--calibration", required=True, help="features .npy [N, 80, 800]")
    parser.add_argument("--calibration-items", type=int, default=128)
    parser.add_argument("--float-out", required=True)
    parser.add_argument("--int8-out", required=True)
    parser.add_argument("--seed", type=int, default=CALIBRATION_SEED)
    args = parser.parse_args()
    require_output_files(parser, float_out=args.float_out, int8_out=args.int8_out)

    torch.manual_seed(args.seed)
    model = EndOfTurnNet().eval() if args.untrained else load_checkpoint_model(args.checkpoint)
    float_model = export_float(model)
    onnx.checker.check_model(float_model)
    onnx.save(float_model, args.float_out)

    features = np.load(args.calibration, mmap_mode="r")
    batches = calibration_batches(features, args.calibration_items, args.seed)
    int8_model = quantise(float_model, batches)
    onnx.checker.check_model(int8_model)
    int8_model.ir_version = EMBEDDED_IR_VERSION
    onnx.save(int8_model, args.int8_out)
    print(f"wrote {args.float_out} and {args.int8_out} ({os.path.getsize(args.int8_out)} bytes)")


if __name__ == "__main__":
    main()
